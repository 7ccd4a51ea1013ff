# A Windows program's resources: its version resource and manifest, both of the project's version.
#   norvo_program_resources(TARGET DESCRIPTION text ASSEMBLY name [MESSAGES folder])
# MESSAGES is the folder of windmc's messages.rc and its .bin, made in the same directory, for a
# program that carries the event log's message table.
function(norvo_program_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION;ASSEMBLY;MESSAGES" "")
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
  set(NORVO_RC_NAME ${target})
  set(NORVO_RC_DESCRIPTION ${arg_DESCRIPTION})
  set(NORVO_RC_ASSEMBLY ${arg_ASSEMBLY})
  set(NORVO_RC_MANIFEST ${dir}/${target}.manifest)
  set(NORVO_RC_INCLUDE "")
  set(includes -I ${dir})
  set(depends ${dir}/${target}.rc ${NORVO_RC_MANIFEST})
  if(arg_MESSAGES)
    set(NORVO_RC_INCLUDE "#include \"messages.rc\"")
    list(APPEND includes -I ${arg_MESSAGES})
    list(APPEND depends ${arg_MESSAGES}/messages.rc ${arg_MESSAGES}/MSG00409.bin)
  endif()
  set(templates ${PROJECT_SOURCE_DIR}/windows/resources)
  configure_file(${templates}/program.manifest.in ${NORVO_RC_MANIFEST} @ONLY)
  configure_file(${templates}/program.rc.in ${dir}/${target}.rc @ONLY)
  # windres runs as a command of its own: the project's compile options are not its flags.
  set(object ${dir}/${target}.res.obj)
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${CMAKE_RC_COMPILER} ${includes} -O coff -i ${dir}/${target}.rc -o ${object}
    DEPENDS ${depends}
    COMMENT "Compiling the resources of ${target}")
  set_source_files_properties(${object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(${target} PRIVATE ${object})
endfunction()
