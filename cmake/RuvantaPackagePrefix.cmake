# Read by cpack as it makes a package. The manual pages name the paths of the prefix
# the tree was configured for; a package installs under /usr.
if(CPACK_GENERATOR STREQUAL "DEB"
   AND NOT CPACK_RUVANTA_CONFIGURED_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  message(WARNING
    "this build tree was configured for the prefix ${CPACK_RUVANTA_CONFIGURED_PREFIX}, "
    "so the package's manual pages name paths under it, not under "
    "${CPACK_PACKAGING_INSTALL_PREFIX}; for a package to hand out, configure a tree with "
    "-DCMAKE_INSTALL_PREFIX=${CPACK_PACKAGING_INSTALL_PREFIX}")
endif()
