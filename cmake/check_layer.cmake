# SPDX-License-Identifier: GPL-3.0-or-later
cmake_minimum_required(VERSION 3.21)
# Run as a script at build time: fails when a source of one layer includes a folder it may not
# see. Arguments: -DLAYER=<folder> -DALLOWED=<folders;...> -DSOURCES=<files;...> -DSTAMP=<file>
foreach(src IN LISTS SOURCES)
    file(STRINGS "${src}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z_]+/")
    foreach(line IN LISTS includes)
        string(REGEX MATCH "\"([A-Za-z_]+)/" _ "${line}")
        if(NOT CMAKE_MATCH_1 IN_LIST ALLOWED)
            message(FATAL_ERROR "${src}: ${line}\n  ${LAYER}/ may include only ${ALLOWED}: "
                                "an include runs up the layers")
        endif()
    endforeach()
endforeach()
file(TOUCH "${STAMP}")
