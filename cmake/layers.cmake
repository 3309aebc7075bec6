# SPDX-License-Identifier: GPL-3.0-or-later
# The layers of the station: each folder is a library that may include only itself and the
# folders below it. A build-time check over the library's sources refuses any other include,
# so an arrow the wrong way fails the build even where the linker would not notice it (a header
# used only for a type).
#
# The floors, bottom up: link <- poll, search <- verify <- ui <- device <- commands, gas <- app.
# verify/ (no widgets) may include the engine and the gas table, which needs no Qt and builds as
# its own library (zta_gas_table) for it.
function(zta_layer target)
    get_target_property(dir ${target} SOURCE_DIR)
    get_target_property(sources ${target} SOURCES)
    get_filename_component(layer ${dir} NAME)
    set(files)
    foreach(src IN LISTS sources)
        if(src MATCHES "\\.(h|cpp)$")
            if(NOT IS_ABSOLUTE ${src})
                set(src ${dir}/${src})
            endif()
            list(APPEND files ${src})
        endif()
    endforeach()
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}_layer.stamp)
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} -DLAYER=${layer} "-DALLOWED=${layer};${ARGN}"
                "-DSOURCES=${files}" -DSTAMP=${stamp} -P ${PROJECT_SOURCE_DIR}/cmake/check_layer.cmake
        DEPENDS ${files} ${PROJECT_SOURCE_DIR}/cmake/check_layer.cmake
        COMMENT "Checking the includes of ${layer}/" VERBATIM)
    add_custom_target(${target}_layer DEPENDS ${stamp})
    add_dependencies(${target} ${target}_layer)
endfunction()
