# Run by CPack once it has made the packages (CPACK_POST_BUILD_SCRIPTS): CPack writes no
# Multi-Arch field, so this adds "Multi-Arch: same" to the control file of every package named in
# CPACK_VRN3_MULTIARCH_SAME and builds the package again from its unpacked tree.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    execute_process(COMMAND dpkg-deb -f "${deb}" Package
        OUTPUT_VARIABLE name OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    if(NOT name IN_LIST CPACK_VRN3_MULTIARCH_SAME)
        continue()
    endif()
    set(tree "${deb}.tree")
    file(REMOVE_RECURSE "${tree}")
    execute_process(COMMAND dpkg-deb -R "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
    file(READ "${tree}/DEBIAN/control" control)
    string(REGEX REPLACE "(\nArchitecture: [^\n]*\n)" "\\1Multi-Arch: same\n" control "${control}")
    file(WRITE "${tree}/DEBIAN/control" "${control}")
    execute_process(COMMAND dpkg-deb --root-owner-group -b "${tree}" "${deb}"
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${tree}")
    message(STATUS "${name}: Multi-Arch: same")
endforeach()
