-- Writes the category page Output/Subject.htm: the groups by first letter.
-- The run calls OutputFile with the project folder, then reads DebugMsg and
-- ErrMsg: a non-empty ErrMsg stops the run and is shown to the user.

DebugMsg = ""
ErrMsg = ""

function OutputFile(folder)
  local g = CreateObject("Quillant.clsSubject")
  g:OutputFile(folder)
  DebugMsg = g.DebugMsg
  ErrMsg = g.ErrMsg
end
