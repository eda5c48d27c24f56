-- Writes the code index Output/Index.htm: every item code, in code order.
-- The run calls OutputFile with the project folder, then reads DebugMsg and
-- ErrMsg: a non-empty ErrMsg stops the run and is shown to the user.

DebugMsg = ""
ErrMsg = ""

function OutputFile(folder)
  local g = CreateObject("Quillant.clsCodeIndex")
  g:OutputFile(folder)
  DebugMsg = g.DebugMsg
  ErrMsg = g.ErrMsg
end
