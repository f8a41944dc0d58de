# What `cmake --install` puts into a prefix, and the Debian package made from it:
#   lib/libkelvora.so.1 (+ the libkelvora.so link for linking), include/kelvora/KelvoraEngine.h,
#   lib/cmake/Kelvora/ (find_package), lib/pkgconfig/kelvora.pc, and with the tool
#   bin/kelvora and share/man/man1/kelvora.1.
# Only the shared library and its one public header are installed; the static components behind
# them are internal. Every installed path is relative to the prefix, so an installed tree can be
# moved as a whole.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(kelvora_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Kelvora)
set(kelvora_pkgconfig_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS kelvora EXPORT KelvoraTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/engine/KelvoraEngine.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kelvora)

# find_package(Kelvora 1.0) -> Kelvora::kelvora.
install(EXPORT KelvoraTargets NAMESPACE Kelvora:: DESTINATION ${kelvora_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KelvoraConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/KelvoraConfig.cmake
                              INSTALL_DESTINATION ${kelvora_cmake_dir})
# The major version is the SONAME's: within it, a newer library runs programs built against an
# older one, so any installed 1.x satisfies a request for 1.0 and 2.x does not.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KelvoraConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KelvoraConfig.cmake
              ${PROJECT_BINARY_DIR}/KelvoraConfigVersion.cmake
        DESTINATION ${kelvora_cmake_dir})

# pkg-config: paths relative to the .pc file's own folder, so the file stays right wherever the
# installed tree is moved.
file(RELATIVE_PATH kelvora_pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" kelvora_pc_to_prefix "${kelvora_pc_to_prefix}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/kelvora.pc.in ${PROJECT_BINARY_DIR}/kelvora.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kelvora.pc DESTINATION ${kelvora_pkgconfig_dir})

if(TARGET kelvora_cli)
    # The tool finds the library next to it in the installed tree, wherever that tree is.
    file(RELATIVE_PATH kelvora_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR}
         ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(kelvora_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${kelvora_bin_to_lib}")
    install(TARGETS kelvora_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

    # The man page is written from the tool's own --help of every subcommand, so it lists what
    # the tool that is installed with it accepts.
    set(kelvora_man_page ${PROJECT_BINARY_DIR}/man/kelvora.1)
    add_custom_command(
        OUTPUT ${kelvora_man_page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/make-man-page $<TARGET_FILE:kelvora_cli>
                ${PROJECT_VERSION} ${kelvora_man_page}
        DEPENDS kelvora_cli ${PROJECT_SOURCE_DIR}/cmake/make-man-page
        COMMENT "Writing the kelvora man page from the tool's --help"
        VERBATIM)
    add_custom_target(kelvora_man_page ALL DEPENDS ${kelvora_man_page})
    install(FILES ${kelvora_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# `cpack -G DEB` in a build configured with -DCMAKE_INSTALL_PREFIX=/usr. The package holds
# everything above; dpkg-shlibdeps works out what it depends on (the C++ runtime, and libsndfile
# through the tool).
set(CPACK_PACKAGE_NAME kelvora)
set(CPACK_PACKAGE_VENDOR "Kelvora developers")
set(CPACK_PACKAGE_CONTACT "Kelvora developers <kelvora@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "loop-slicing engine: cut loops at their transients, play them at other tempos")
set(CPACK_PACKAGE_DESCRIPTION
    "Kelvora finds the transients of a short audio loop, cuts it into slices and plays it at \
another tempo by moving the slices on a stretched timeline instead of stretching the audio. \
This package holds the shared library, its C++ header, CMake and pkg-config files, and the \
kelvora command-line tool with its manual page.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file, and the ldconfig trigger that comes with it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
include(CPack)
