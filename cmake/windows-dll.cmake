# SPDX-License-Identifier: BSD-3-Clause
# Windows DLLs with fixed exports. kv_windows_dll(<target> <def file>) makes the shared library
# <target> export exactly what the .def file lists, at its ordinals and under undecorated names,
# and gives its clients the import library that dlltool builds from the same .def file (-k: a
# client's decorated CT_init@8 resolves to the export CT_init; NONAME entries are imported by
# ordinal). The linker's own import library resolves neither; a client that links <target> finds
# its calls in the dlltool one.
function(kv_windows_dll target def)
  set(def ${CMAKE_CURRENT_SOURCE_DIR}/${def})
  get_target_property(dll_name ${target} OUTPUT_NAME)
  if(NOT dll_name)
    set(dll_name ${target})
  endif()
  target_sources(${target} PRIVATE ${def})
  set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX
                                                                          ".linker.dll.a")
  target_link_options(${target} PRIVATE -Wl,--kill-at -static)
  set(import ${CMAKE_CURRENT_BINARY_DIR}/import/lib${dll_name}.a)
  add_custom_command(
    OUTPUT ${import}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/import
    COMMAND ${CMAKE_DLLTOOL} -d ${def} -k -D ${dll_name}.dll -l ${import}
    DEPENDS ${def}
    COMMENT "Import library of ${dll_name}.dll")
  add_custom_target(${target}_import_library DEPENDS ${import})
  add_dependencies(${target} ${target}_import_library)
  target_link_libraries(${target} INTERFACE ${import})
endfunction()
