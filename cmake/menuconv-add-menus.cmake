# menuconv_add_menus(TARGET name INPUT document [OUTPUT_DIR dir] [TEXTS_OUT file] [STRICT])
#
# Adds the target `name`, built by default, that converts the editor document into its menu
# documents in OUTPUT_DIR (default: the folder `name` in the current binary folder) and writes
# the merged text table to TEXTS_OUT (default: BASE_txts.txt in OUTPUT_DIR, BASE being the
# document's name before its last "."). The text tables beside the document are only read:
# nothing is written into the source tree.
#
# The files a run writes depend on the document, so they are listed at configure time (with
# `menuconv --list-outputs`), and a changed document configures again. The step depends on
# the document and both text tables, keeps outputs whose bytes did not change (their time
# stamps included), and marks its run with a stamp file, so that a build after a run that
# changed nothing runs nothing, under make as under Ninja.
#
# The files made are in the variable `<name>_OUTPUTS` and in the target property
# MENUCONV_OUTPUTS. STRICT makes any warning fail the step.
include_guard(GLOBAL)

# A menuconv program that runs on this machine now, to list the outputs at configure time.
function(_menuconv_lister result)
  get_target_property(aliased menuconv::menuconv ALIASED_TARGET)
  if(NOT aliased)
    get_target_property(program menuconv::menuconv IMPORTED_LOCATION)
    set(${result} "${program}" PARENT_SCOPE)
    return()
  endif()
  # Built by this build (add_subdirectory): it is not there at configure time, so a copy of
  # the program alone is built once beside it.
  get_target_property(source ${aliased} SOURCE_DIR)
  get_target_property(binary ${aliased} BINARY_DIR)
  set(lister_build "${binary}/lister")
  set(program "${lister_build}/menuconv")
  if(NOT EXISTS "${program}")
    message(STATUS "menuconv: building the program once, to list the files each document gives")
    execute_process(COMMAND "${CMAKE_COMMAND}" -S "${source}" -B "${lister_build}" -DCMAKE_BUILD_TYPE=Release
                            -DMENUCONV_TESTS=OFF -DMENUCONV_BENCH=OFF
                    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE errors)
    cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
    if(NOT failed)
      execute_process(COMMAND "${CMAKE_COMMAND}" --build "${lister_build}" --target menuconv --parallel ${cores}
                      RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE errors)
    endif()
    if(failed)
      message(FATAL_ERROR "menuconv: the program could not be built to list the outputs:\n${errors}")
    endif()
  endif()
  set(${result} "${program}" PARENT_SCOPE)
endfunction()

# True when `path` is `folder` or lies below it.
function(_menuconv_is_below path folder result)
  file(RELATIVE_PATH relative "${folder}" "${path}")
  if(relative MATCHES "^\\.\\./" OR relative STREQUAL ".." OR IS_ABSOLUTE "${relative}")
    set(${result} FALSE PARENT_SCOPE)
  else()
    set(${result} TRUE PARENT_SCOPE)
  endif()
endfunction()

# Stops the configuration for a file the step would write into the source tree.
function(_menuconv_refuse_source_file name path input tables)
  _menuconv_is_below("${path}" "${CMAKE_BINARY_DIR}" in_build)
  _menuconv_is_below("${path}" "${CMAKE_SOURCE_DIR}" in_source)
  if(path IN_LIST tables OR path STREQUAL input OR (in_source AND NOT in_build))
    message(FATAL_ERROR "menuconv_add_menus(${name}): ${path} would be written into the source tree; "
                        "give OUTPUT_DIR and TEXTS_OUT in the build tree")
  endif()
endfunction()

function(menuconv_add_menus)
  cmake_parse_arguments(PARSE_ARGV 0 MENUS "STRICT" "TARGET;INPUT;OUTPUT_DIR;TEXTS_OUT" "")
  if(MENUS_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "menuconv_add_menus: unknown arguments: ${MENUS_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT MENUS_TARGET OR NOT MENUS_INPUT)
    message(FATAL_ERROR "menuconv_add_menus: TARGET and INPUT are required")
  endif()
  if(NOT TARGET menuconv::menuconv)
    message(FATAL_ERROR "menuconv_add_menus: the target menuconv::menuconv is missing: "
                        "use find_package(menuconv) or add_subdirectory() of the menuconv sources first")
  endif()
  set(name "${MENUS_TARGET}")
  get_filename_component(input "${MENUS_INPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT EXISTS "${input}")
    message(FATAL_ERROR "menuconv_add_menus(${name}): the document ${input} does not exist")
  endif()
  if(NOT MENUS_OUTPUT_DIR)
    set(MENUS_OUTPUT_DIR "${name}")
  endif()
  get_filename_component(output_dir "${MENUS_OUTPUT_DIR}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")

  # The text tables: the path before its last ".", followed by ".txt" and "_txts.txt".
  string(FIND "${input}" "." dot REVERSE)
  string(SUBSTRING "${input}" 0 ${dot} base)
  set(tables "${base}.txt" "${base}_txts.txt")
  if(dot EQUAL -1)
    set(tables "")  # a path without "." has no text tables
  endif()
  if(NOT MENUS_TEXTS_OUT)
    get_filename_component(base_name "${base}_txts.txt" NAME)
    set(MENUS_TEXTS_OUT "${output_dir}/${base_name}")
  endif()
  get_filename_component(texts_out "${MENUS_TEXTS_OUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(texts_dir "${texts_out}" DIRECTORY)
  _menuconv_refuse_source_file(${name} "${output_dir}" "${input}" "${tables}")
  _menuconv_refuse_source_file(${name} "${texts_out}" "${input}" "${tables}")
  file(MAKE_DIRECTORY "${output_dir}" "${texts_dir}")

  set(arguments -o "${output_dir}" --texts-out "${texts_out}")
  set(strict "")
  if(MENUS_STRICT)
    set(strict --strict)
  endif()
  _menuconv_lister(lister)
  execute_process(COMMAND "${lister}" --list-outputs ${arguments} -- "${input}"
                  RESULT_VARIABLE failed OUTPUT_VARIABLE listed ERROR_VARIABLE errors)
  if(failed)
    message(FATAL_ERROR "menuconv_add_menus(${name}): menuconv cannot convert ${input}:\n${errors}")
  endif()
  string(REGEX REPLACE "\n$" "" listed "${listed}")
  string(REPLACE "\n" ";" listed "${listed}")
  set(outputs "")
  foreach(output IN LISTS listed)
    get_filename_component(output "${output}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
    _menuconv_refuse_source_file(${name} "${output}" "${input}" "${tables}")
    list(APPEND outputs "${output}")
  endforeach()

  set(depends "${input}")
  foreach(table IN LISTS tables)
    if(EXISTS "${table}")
      list(APPEND depends "${table}")
    endif()
  endforeach()
  # A changed document may name other screens: the outputs are listed again.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${input}")

  # The outputs keep their time stamps when their bytes did not change, so the stamp file
  # tells make (which has no restat) that the step ran.
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${name}.menuconv-stamp")
  add_custom_command(OUTPUT "${stamp}"
                     BYPRODUCTS ${outputs}
                     COMMAND menuconv::menuconv --keep-unchanged ${strict} ${arguments} -- "${input}"
                     COMMAND "${CMAKE_COMMAND}" -E touch "${stamp}"
                     DEPENDS ${depends} menuconv::menuconv
                     COMMENT "Converting the menus of ${MENUS_INPUT}"
                     VERBATIM)
  add_custom_target(${name} ALL DEPENDS "${stamp}")
  set_target_properties(${name} PROPERTIES MENUCONV_OUTPUTS "${outputs}")
  set(${name}_OUTPUTS "${outputs}" PARENT_SCOPE)
endfunction()
