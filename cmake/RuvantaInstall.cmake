# What `cmake --install` puts under the prefix, and the Debian package made of it:
#   bin/ruvanta, bin/ruvanta-cli                        the programs
#   share/applications/ruvanta.desktop                  the menu entry (opens files)
#   share/icons/hicolor/{scalable,256x256}/apps/        the icon, as SVG and PNG
#   share/man/man1/ruvanta.1, ruvanta-cli.1             the manual pages
#   share/doc/ruvanta/                                  README.md, docs/, examples/
#   include/ruvanta/ruvanta.h, lib/libruvanta.so*       the C++ library
#   lib/cmake/ruvanta/                                  its find_package(ruvanta)
#   lib/python3.X/dist-packages/ (lib/python3/... under /usr)   the Python module
# ruvanta-cli's manual page is written at build time from the program's own usage
# message and --help, so its options are the parser's. The window's parts come only
# with the window (RUVANTA_GUI and Qt 6).
include(${CMAKE_CURRENT_LIST_DIR}/RuvantaInstallLayout.cmake)

set(RUVANTA_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(RUVANTA_MAN_OUTPUT_DIR ${PROJECT_BINARY_DIR}/man)

# The values the manual pages name. The date is the build's (SOURCE_DATE_EPOCH when
# set, for a reproducible page).
string(TIMESTAMP RUVANTA_MAN_DATE "%Y-%m-%d" UTC)
set(RUVANTA_MAN_VALUES
  VERSION=${PROJECT_VERSION}
  DATE=${RUVANTA_MAN_DATE}
  DOCDIR=${CMAKE_INSTALL_FULL_DOCDIR}
  EXAMPLESDIR=${CMAKE_INSTALL_FULL_DOCDIR}/examples)

add_executable(ruvanta-make-manpage ${RUVANTA_PACKAGING_DIR}/man/make_manpage.cpp)
set_target_properties(ruvanta-make-manpage PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
add_custom_command(
  OUTPUT ${RUVANTA_MAN_OUTPUT_DIR}/ruvanta-cli.1
  COMMAND ${CMAKE_COMMAND} -E make_directory ${RUVANTA_MAN_OUTPUT_DIR}
  COMMAND ruvanta-make-manpage $<TARGET_FILE:ruvanta-cli>
    ${RUVANTA_PACKAGING_DIR}/man/ruvanta-cli.1.in ${RUVANTA_MAN_OUTPUT_DIR}/ruvanta-cli.1
    ${RUVANTA_MAN_VALUES}
  DEPENDS ruvanta-make-manpage ruvanta-cli ${RUVANTA_PACKAGING_DIR}/man/ruvanta-cli.1.in
  COMMENT "Writing the manual page of ruvanta-cli from its usage and --help"
  VERBATIM)
set(RUVANTA_MAN_PAGES ${RUVANTA_MAN_OUTPUT_DIR}/ruvanta-cli.1)
if(TARGET ruvanta)
  # The window has no option table: its page is the template with the same values.
  function(ruvanta_configure_page template output)
    foreach(pair IN LISTS RUVANTA_MAN_VALUES)
      string(REGEX MATCH "^([A-Z_]+)=(.*)$" _ "${pair}")
      set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
    endforeach()
    configure_file(${template} ${output} @ONLY)
  endfunction()
  ruvanta_configure_page(${RUVANTA_PACKAGING_DIR}/man/ruvanta.1.in ${RUVANTA_MAN_OUTPUT_DIR}/ruvanta.1)
  list(APPEND RUVANTA_MAN_PAGES ${RUVANTA_MAN_OUTPUT_DIR}/ruvanta.1)
endif()
add_custom_target(ruvanta-man-pages ALL DEPENDS ${RUVANTA_MAN_PAGES})

install(TARGETS ruvanta-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  COMPONENT ${RUVANTA_COMPONENT_RUNTIME})
install(FILES ${RUVANTA_MAN_PAGES} DESTINATION ${RUVANTA_INSTALL_MAN1DIR}
  COMPONENT ${RUVANTA_COMPONENT_RUNTIME})
if(TARGET ruvanta)
  install(TARGETS ruvanta RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT ${RUVANTA_COMPONENT_RUNTIME})
  install(FILES ${RUVANTA_PACKAGING_DIR}/desktop/ruvanta.desktop
    DESTINATION ${RUVANTA_INSTALL_APPLICATIONSDIR} COMPONENT ${RUVANTA_COMPONENT_RUNTIME})
  install(FILES ${RUVANTA_PACKAGING_DIR}/icons/ruvanta.svg
    DESTINATION ${RUVANTA_INSTALL_ICONSDIR}/scalable/apps COMPONENT ${RUVANTA_COMPONENT_RUNTIME})
  install(FILES ${RUVANTA_PACKAGING_DIR}/icons/ruvanta-256.png
    DESTINATION ${RUVANTA_INSTALL_ICONSDIR}/256x256/apps RENAME ruvanta.png
    COMPONENT ${RUVANTA_COMPONENT_RUNTIME})
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${RUVANTA_INSTALL_DOCDIR}
  COMPONENT ${RUVANTA_COMPONENT_RUNTIME})
# The README's links point into docs/, so docs/ goes beside it.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${RUVANTA_INSTALL_DOCDIR}/docs
  COMPONENT ${RUVANTA_COMPONENT_RUNTIME})
install(FILES ${PROJECT_SOURCE_DIR}/data/damaged.bmp ${PROJECT_SOURCE_DIR}/data/mask.bmp
  ${PROJECT_SOURCE_DIR}/data/original.bmp ${PROJECT_SOURCE_DIR}/data/README.md
  DESTINATION ${RUVANTA_INSTALL_EXAMPLESDIR} COMPONENT ${RUVANTA_COMPONENT_RUNTIME})

# The public library (include/ruvanta/ruvanta.h, libruvanta, find_package(ruvanta)
# giving ruvanta::ruvanta) and the Python module.
ruvanta_install_library(TARGETS ruvanta_library
  HEADERS ${PROJECT_SOURCE_DIR}/include/ruvanta/ruvanta.h)
if(TARGET ruvanta_python)
  ruvanta_install_python_module(ruvanta_python ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR})
endif()

include(${CMAKE_CURRENT_LIST_DIR}/RuvantaPackage.cmake)
if(RUVANTA_TESTS)
  include(${CMAKE_CURRENT_LIST_DIR}/RuvantaInstallTests.cmake)
endif()
