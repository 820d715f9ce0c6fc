# Where an installed ruvanta puts its parts, relative to the install prefix: the GNU
# layout (bin, share/applications, share/icons/hicolor, share/man, share/doc/ruvanta;
# lib, or lib/<multiarch> for the prefix /usr), the install components the parts
# belong to, and the install steps of the library and the Python module. Whatever
# installs something includes this first; it may be included more than once.
include_guard(GLOBAL)
include(GNUInstallDirs)

# Components: Runtime (the programs, the desktop entry and icon, the manual pages,
# the documents and the sample), Development (the public header, the library and its
# CMake package configuration), Python (the Python module).
set(RUVANTA_COMPONENT_RUNTIME Runtime)
set(RUVANTA_COMPONENT_DEVELOPMENT Development)
set(RUVANTA_COMPONENT_PYTHON Python)

set(RUVANTA_INSTALL_APPLICATIONSDIR ${CMAKE_INSTALL_DATADIR}/applications)
set(RUVANTA_INSTALL_ICONSDIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
set(RUVANTA_INSTALL_MAN1DIR ${CMAKE_INSTALL_MANDIR}/man1)
set(RUVANTA_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
set(RUVANTA_INSTALL_EXAMPLESDIR ${CMAKE_INSTALL_DOCDIR}/examples)
# The public header goes to include/ruvanta/, the package configuration (for
# find_package(ruvanta)) beside the library.
set(RUVANTA_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/ruvanta)
set(RUVANTA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ruvanta)

# The Python module TARGET, built for Python VERSION (major.minor), where Debian's
# Python looks for it under the prefix: lib/python3/dist-packages under /usr (where
# packages put modules), lib/pythonVERSION/dist-packages under any other prefix
# (/usr/local's is on the path; elsewhere PYTHONPATH names it).
# RUVANTA_INSTALL_PYTHONDIR, when set, is the folder instead.
function(ruvanta_install_python_module target version)
  if(RUVANTA_INSTALL_PYTHONDIR)
    set(dir ${RUVANTA_INSTALL_PYTHONDIR})
  elseif(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(dir lib/python3/dist-packages)
  else()
    set(dir lib/python${version}/dist-packages)
  endif()
  install(TARGETS ${target} LIBRARY DESTINATION ${dir} COMPONENT ${RUVANTA_COMPONENT_PYTHON})
endfunction()

# The public library: TARGETS (the library, and for a static one every library of
# the project it links) go to lib/ in the export set ruvantaTargets, HEADERS to
# include/ruvanta/, and the package configuration to lib/cmake/ruvanta/, so that
# find_package(ruvanta) in another project gives ruvanta::<target>. DEPENDENCIES are
# the packages the targets' interface needs (Threads, say), found again by
# find_dependency for the consumer.
function(ruvanta_install_library)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "" "TARGETS;HEADERS;DEPENDENCIES")
  install(TARGETS ${arg_TARGETS} EXPORT ruvantaTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${RUVANTA_COMPONENT_DEVELOPMENT}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${RUVANTA_COMPONENT_RUNTIME}
      NAMELINK_COMPONENT ${RUVANTA_COMPONENT_DEVELOPMENT}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${RUVANTA_COMPONENT_RUNTIME}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES ${arg_HEADERS} DESTINATION ${RUVANTA_INSTALL_INCLUDEDIR}
    COMPONENT ${RUVANTA_COMPONENT_DEVELOPMENT})
  install(EXPORT ruvantaTargets NAMESPACE ruvanta:: DESTINATION ${RUVANTA_INSTALL_CMAKEDIR}
    COMPONENT ${RUVANTA_COMPONENT_DEVELOPMENT})

  include(CMakePackageConfigHelpers)
  set(RUVANTA_PACKAGE_DEPENDENCIES ${arg_DEPENDENCIES})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ruvantaConfig.cmake.in
    ${PROJECT_BINARY_DIR}/cmake/ruvantaConfig.cmake
    INSTALL_DESTINATION ${RUVANTA_INSTALL_CMAKEDIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/ruvantaConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/cmake/ruvantaConfig.cmake
    ${PROJECT_BINARY_DIR}/cmake/ruvantaConfigVersion.cmake
    DESTINATION ${RUVANTA_INSTALL_CMAKEDIR} COMPONENT ${RUVANTA_COMPONENT_DEVELOPMENT})
endfunction()
