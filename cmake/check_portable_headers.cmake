# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a source under the given folders includes a POSIX-only header: those folders
# build for Windows too. Run as: cmake -DZTA_ROOT=<dir> -DZTA_FOLDERS=a;b -P <this file>
set(posix_headers
    "unistd|termios|poll|fcntl|pthread|dirent|dlfcn|pwd|grp|pty|utmp|libgen|syslog|strings|semaphore|spawn|glob|fnmatch|wordexp|sched|aio")
set(posix_folders "sys|linux|netinet|arpa|bits|asm")
set(pattern "#[ \t]*include[ \t]*[<\"]((${posix_headers})\\.h|(${posix_folders})/[^>\"]*)[>\"]")

set(found "")
foreach(folder IN LISTS ZTA_FOLDERS)
    file(GLOB_RECURSE sources "${ZTA_ROOT}/${folder}/*.h" "${ZTA_ROOT}/${folder}/*.hpp"
         "${ZTA_ROOT}/${folder}/*.cpp" "${ZTA_ROOT}/${folder}/*.cc")
    foreach(source IN LISTS sources)
        file(STRINGS "${source}" lines REGEX "${pattern}")
        foreach(line IN LISTS lines)
            string(REGEX MATCH "${pattern}" include "${line}")
            file(RELATIVE_PATH shown "${ZTA_ROOT}" "${source}")
            string(APPEND found "  ${shown}: ${include}\n")
        endforeach()
    endforeach()
endforeach()

if(found)
    message(FATAL_ERROR "POSIX headers where the code must build for Windows too:\n${found}")
endif()
