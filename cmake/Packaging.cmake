# Debian packages: cpack -G DEB in the build directory.
set(CPACK_PACKAGE_NAME orvelupdatechecks)
set(CPACK_PACKAGE_VENDOR "Orvel")
set(CPACK_PACKAGE_CONTACT "Orvel maintainers <maintainers@orvel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Checks whether a pending apt distribution update may be installed on Orvel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_COMPONENT_TOOL_DEPENDS runtime)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME liborvelupdatechecks)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Orvel update checks: shared library and Python 3.7 module\n The library decides whether a pending distribution update through apt is\n linear and whether the hotfix repositories are valid. It is at the same time\n the Python 3.7 module orvelupdatechecks. Needs a Python 3.7 with its shared\n library (libpython3.7m.so.1.0).")
# The checks run apt-cache with GNU awk, grep, sed and sort through bash.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
    "libqt5core5a (>= 5.15), libstdc++6, libc6, apt, gawk, grep, sed, coreutils, bash")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME liborvelupdatechecks-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Orvel update checks: development files\n Headers, CMake package (find_package(OrvelUpdateChecks)) and pkg-config\n file for liborvelupdatechecks.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "qtbase5-dev (>= 5.15)")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME orvel-update-check)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_TOOL_DESCRIPTION
    "Orvel update checks: command-line tool\n orvel-update-check tells whether the pending apt update may be installed and\n which package sources offer a refused version.")

include(CPack)
