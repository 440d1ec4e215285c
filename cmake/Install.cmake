# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

# Installation: libraries, headers, CMake package, pkg-config file, the Python
# module link with its stub, and the tool.
include(CMakePackageConfigHelpers)

set(ORVELUPDATECHECKS_PYTHON_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/python3.7/site-packages"
    CACHE STRING "Directory (relative to the prefix, or absolute) where Python 3.7 finds the module")
set(ORVELUPDATECHECKS_CMAKE_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/OrvelUpdateChecks")

# The libpython that the library needs is found at run time through the
# system's library paths (or LD_LIBRARY_PATH); a Python 3.7 that imports the
# module has it loaded already. Only a build that wants an installed file to
# name the build machine's Python directory asks for it.
option(ORVELUPDATECHECKS_INSTALL_PYTHON_RPATH
       "Put the directory of the build's libpython3.7 into the installed library's RUNPATH" OFF)

# Installed binaries find their neighbours through paths relative to
# themselves, so a prefix can move. (Packages for the system's library
# directory set CMAKE_SKIP_INSTALL_RPATH.)
set_target_properties(orvelupdatestate wexadminpackage PROPERTIES INSTALL_RPATH "$ORIGIN")
# Loaded by Python through the module link, $ORIGIN is the link's directory.
if(IS_ABSOLUTE "${ORVELUPDATECHECKS_PYTHON_INSTALL_DIR}")
    file(RELATIVE_PATH _libdir_from_pydir "${ORVELUPDATECHECKS_PYTHON_INSTALL_DIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
else()
    file(RELATIVE_PATH _libdir_from_pydir "/root/${ORVELUPDATECHECKS_PYTHON_INSTALL_DIR}" "/root/${CMAKE_INSTALL_LIBDIR}")
endif()
set(_library_rpath "$ORIGIN" "$ORIGIN/${_libdir_from_pydir}")
if(ORVELUPDATECHECKS_INSTALL_PYTHON_RPATH)
    list(APPEND _library_rpath ${Python_LIBRARY_DIRS})
endif()
set_target_properties(orvelupdatechecks PROPERTIES INSTALL_RPATH "${_library_rpath}")
file(RELATIVE_PATH _libdir_from_maindir "/root/${ORVELUPDATECHECKS_MAIN_DIR}" "/root/${CMAKE_INSTALL_LIBDIR}")
set_target_properties(orvel-update-check-main PROPERTIES INSTALL_RPATH "$ORIGIN/${_libdir_from_maindir}")

install(TARGETS orvelupdatechecks
    EXPORT OrvelUpdateChecksTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvelupdatechecks COMPONENT development)
# The stand-ins stand for platform libraries: only their runtime files, and
# no part of the CMake package, which must work as well with the real ones.
install(TARGETS orvelupdatestate wexadminpackage
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT platform NAMELINK_SKIP)
install(TARGETS orvel-update-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(TARGETS orvel-update-check-main RUNTIME DESTINATION ${ORVELUPDATECHECKS_MAIN_DIR} COMPONENT tool)

install(EXPORT OrvelUpdateChecksTargets
    NAMESPACE OrvelUpdateChecks::
    DESTINATION ${ORVELUPDATECHECKS_CMAKE_INSTALL_DIR}
    COMPONENT development)
configure_package_config_file(cmake/OrvelUpdateChecksConfig.cmake.in
    ${PROJECT_BINARY_DIR}/OrvelUpdateChecksConfig.cmake
    INSTALL_DESTINATION ${ORVELUPDATECHECKS_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OrvelUpdateChecksConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OrvelUpdateChecksConfig.cmake
              ${PROJECT_BINARY_DIR}/OrvelUpdateChecksConfigVersion.cmake
    DESTINATION ${ORVELUPDATECHECKS_CMAKE_INSTALL_DIR} COMPONENT development)

# A relocatable .pc: the prefix is found from the file's own place.
file(RELATIVE_PATH ORVEL_PC_PREFIX_FROM_PCDIR "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
string(REGEX REPLACE "/$" "" ORVEL_PC_PREFIX_FROM_PCDIR "${ORVEL_PC_PREFIX_FROM_PCDIR}")
configure_file(cmake/orvelupdatechecks.pc.in ${PROJECT_BINARY_DIR}/orvelupdatechecks.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orvelupdatechecks.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# The module is the library itself under the name Python imports; the link
# is relative, made when the install prefix is known.
install(CODE "
    set(_pydir \"${ORVELUPDATECHECKS_PYTHON_INSTALL_DIR}\")
    if(NOT IS_ABSOLUTE \"\${_pydir}\")
        set(_pydir \"\${CMAKE_INSTALL_PREFIX}/\${_pydir}\")
    endif()
    file(RELATIVE_PATH _target \"\${_pydir}\"
         \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_SONAME_FILE_NAME:orvelupdatechecks>\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${_pydir}\")
    message(STATUS \"Installing: \$ENV{DESTDIR}\${_pydir}/${ORVELUPDATECHECKS_PYTHON_MODULE} -> \${_target}\")
    file(CREATE_LINK \"\${_target}\" \"\$ENV{DESTDIR}\${_pydir}/${ORVELUPDATECHECKS_PYTHON_MODULE}\" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\$ENV{DESTDIR}\${_pydir}/${ORVELUPDATECHECKS_PYTHON_MODULE}\")
    " COMPONENT runtime)
install(FILES src/python/orvelupdatechecks.pyi
    DESTINATION ${ORVELUPDATECHECKS_PYTHON_INSTALL_DIR} COMPONENT runtime)

# The apt guard's configuration, naming the tool and the guard's switch
# where they are installed; the prefix is known only when installing. As
# GNUInstallDirs has it, the prefix /usr keeps its configuration in /etc.
install(CODE "
    file(READ \"${PROJECT_SOURCE_DIR}/etc/apt/apt.conf.d/20orvel-update-guard\" _guard)
    string(REPLACE \"/usr/bin/orvel-update-check\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/orvel-update-check\"
           _guard \"\${_guard}\")
    set(_switch \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/orvel-update-guard/enabled\")
    string(REPLACE \"/usr/share/orvel-update-guard/enabled\" \"\${_switch}\" _guard \"\${_guard}\")
    file(WRITE \"\$ENV{DESTDIR}\${_switch}\"
         \"The Orvel update guard (/etc/apt/apt.conf.d/20orvel-update-guard) is on while this file exists.\\n\")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\$ENV{DESTDIR}\${_switch}\")
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        set(_etc \"/etc\")
    else()
        set(_etc \"\${CMAKE_INSTALL_PREFIX}/etc\")
    endif()
    set(_file \"\$ENV{DESTDIR}\${_etc}/apt/apt.conf.d/20orvel-update-guard\")
    message(STATUS \"Installing: \${_file}\")
    file(WRITE \"\${_file}\" \"\${_guard}\")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_file}\")
    " COMPONENT guard)
