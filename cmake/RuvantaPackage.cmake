# The Debian package: `cpack -G DEB` in the build folder writes ruvanta_<version>_<arch>.deb
# with every install component in it, under /usr. Its dependencies are what the
# installed programs link (dpkg-shlibdeps: Qt 6 Widgets, libspng, libjpeg-turbo, the C
# and C++ runtimes) and Qt's platform plugins, without which the window cannot open.
# Made from a tree configured with -DCMAKE_INSTALL_PREFIX=/usr, the manual pages name
# the paths the package installs (cmake/RuvantaPackagePrefix.cmake warns otherwise).
set(RUVANTA_PACKAGE_MAINTAINER
  "ruvanta maintainers <maintainers@users.noreply.c-seed-656622d1.example>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME ruvanta)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ruvanta")
set(CPACK_PACKAGE_CONTACT ${RUVANTA_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "restores the damaged regions of colour photographs")
# Lines as apt shows them; the empty line separates paragraphs.
set(CPACK_PACKAGE_DESCRIPTION [=[
ruvanta restores the damaged regions of colour photographs. Given a damaged
image (24-bit BMP, PNG or JPEG) and a mask whose non-black pixels mark what to
restore, it carries the image's smoothness along the isophotes into the masked
pixels, interleaved with a gradient-weighted diffusion, and reports the PSNR
against the undamaged original when one is given. An automatic mode runs until
the PSNR stops rising or the result settles.

The package holds the Qt 6 window program ruvanta, with its menu entry, and
the command line ruvanta-cli for scripts and batches of many pictures, the
C++ library libruvanta with its header and CMake package, and the Python
module ruvanta working on numpy arrays; all give the same numbers bit for bit.]=])
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${RUVANTA_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(_ruvanta_depends)
if(TARGET ruvanta)
  list(APPEND _ruvanta_depends "qt6-qpa-plugins")
endif()
# The Python module is built for one Python version and works on numpy arrays.
if(TARGET ruvanta_python)
  math(EXPR _ruvanta_next_minor "${Python_VERSION_MINOR} + 1")
  list(APPEND _ruvanta_depends
    "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR})"
    "python3 (<< ${Python_VERSION_MAJOR}.${_ruvanta_next_minor})" "python3-numpy")
  unset(_ruvanta_next_minor)
endif()
string(REPLACE ";" ", " CPACK_DEBIAN_PACKAGE_DEPENDS "${_ruvanta_depends}")
unset(_ruvanta_depends)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The shared library's shlibs file and the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

# `cpack` reads this when it runs, with the tree's install prefix.
set(CPACK_RUVANTA_CONFIGURED_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/RuvantaPackagePrefix.cmake)

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build[^/]*/" "/fuzz-out/")
include(CPack)
