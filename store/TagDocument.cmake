# quillant_tag_document(SOURCE OUTPUT)
#
# Turns a readable UTF-8 source into a tag document (header bytes FF FE, then
# UTF-16LE) at build time with tagdoc. A relative SOURCE is taken from the
# calling folder, a relative OUTPUT from the program folder. The build fails
# when the source does not read as a document with one top-level element.
function(quillant_tag_document SOURCE OUTPUT)
  get_filename_component(src "${SOURCE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(out "${OUTPUT}" ABSOLUTE BASE_DIR "${QUILLANT_PROGRAM_DIR}")
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
