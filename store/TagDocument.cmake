# quillant_tag_document(SOURCE OUTPUT)
# quillant_tag_document(SOURCE <source> OUTPUT <output>)
#
# Turns a readable UTF-8 source into a tag document (header bytes FF FE, then
# UTF-16LE) at build time with tagdoc. A relative source is taken from the
# calling folder, a relative output from the program folder. The build fails
# when the source does not read as a document with one top-level element.
function(quillant_tag_document)
  cmake_parse_arguments(TD "" "SOURCE;OUTPUT" "" ${ARGN})
  if(NOT TD_SOURCE OR NOT TD_OUTPUT)
    list(LENGTH ARGN n)
    if(NOT n EQUAL 2)
      message(FATAL_ERROR "quillant_tag_document(SOURCE OUTPUT): give a source and an output")
    endif()
    list(GET ARGN 0 TD_SOURCE)
    list(GET ARGN 1 TD_OUTPUT)
  endif()
  get_filename_component(src "${TD_SOURCE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(out "${TD_OUTPUT}" ABSOLUTE BASE_DIR "${QUILLANT_PROGRAM_DIR}")
  get_filename_component(out_dir "${out}" DIRECTORY)
  file(RELATIVE_PATH rel "${CMAKE_BINARY_DIR}" "${out}")
  string(MAKE_C_IDENTIFIER "tagdoc_${rel}" target)
  add_custom_command(
    OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${out_dir}"
    COMMAND $<TARGET_FILE:tagdoc> build "${src}" "${out}"
    DEPENDS "${src}" tagdoc
    COMMENT "Building tag document ${rel}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${out}")
endfunction()
