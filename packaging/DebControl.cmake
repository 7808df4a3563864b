# Run by CPack once it has made the packages (CPACK_POST_BUILD_SCRIPTS), for what CPack's DEB
# generator cannot say per package: it writes no Multi-Arch field, and its shlibs file is all or
# nothing (the plug-in, which nothing links, would get one too). For each package this adds
#   "Multi-Arch: same" to the control file, if named in CPACK_VRN3_MULTIARCH_SAME;
#   the control file shlibs with the line CPACK_VRN3_SHLIBS_<package>, if that is set;
# and builds the package again from its unpacked tree.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    execute_process(COMMAND dpkg-deb -f "${deb}" Package
        OUTPUT_VARIABLE name OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    set(shlibs "${CPACK_VRN3_SHLIBS_${name}}")
    if(NOT name IN_LIST CPACK_VRN3_MULTIARCH_SAME AND NOT shlibs)
        continue()
    endif()
    set(tree "${deb}.tree")
    file(REMOVE_RECURSE "${tree}")
    execute_process(COMMAND dpkg-deb -R "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
    if(name IN_LIST CPACK_VRN3_MULTIARCH_SAME)
        file(READ "${tree}/DEBIAN/control" control)
        string(REGEX REPLACE "(^|\n)(Architecture: [^\n]*\n)" "\\1\\2Multi-Arch: same\n" control "${control}")
        file(WRITE "${tree}/DEBIAN/control" "${control}")
        message(STATUS "${name}: Multi-Arch: same")
    endif()
    if(shlibs)
        file(WRITE "${tree}/DEBIAN/shlibs" "${shlibs}\n")
        message(STATUS "${name}: shlibs ${shlibs}")
    endif()
    execute_process(COMMAND dpkg-deb --root-owner-group -b "${tree}" "${deb}"
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${tree}")
endforeach()
