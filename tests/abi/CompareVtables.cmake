# Takes the virtual tables of CBrick, CVRN3Stream and CVrn3StreamSound out of a
# -fdump-lang-class listing (DUMP) and compares them, slot by slot and with the class whose
# function fills each slot, with the committed listing (EXPECTED). Hosts call bricks through
# these slots, so any change is a break of the binary interface and must show up here.
# Usage: cmake -DDUMP=<listing> -DEXPECTED=<file> -P CompareVtables.cmake
file(STRINGS "${DUMP}" lines)
set(actual "")
set(inside FALSE)
foreach(line IN LISTS lines)
    if(line MATCHES "^Vtable for (CBrick|CVRN3Stream|CVrn3StreamSound)$")
        set(inside TRUE)
    elseif(inside AND NOT line MATCHES "^[0-9]+ " AND NOT line MATCHES "::_ZTV")
        set(inside FALSE)
    endif()
    if(inside)
        string(REGEX REPLACE "[ \t]+" " " line "${line}")
        string(APPEND actual "${line}\n")
    endif()
endforeach()
file(READ "${EXPECTED}" expected)
if(NOT actual STREQUAL expected)
    file(WRITE "${DUMP}.vtables" "${actual}")
    message(FATAL_ERROR "virtual tables differ from ${EXPECTED}; the actual listing is in ${DUMP}.vtables:\n${actual}")
endif()
message(STATUS "virtual tables of CBrick, CVRN3Stream and CVrn3StreamSound as expected")
