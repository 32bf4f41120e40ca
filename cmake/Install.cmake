# What `cmake --install` puts under the prefix. Natively: bin/resicrypt-cli and its
# man page. Windows: the three exes side by side, as the zip and the installer
# lay them out.
include(GNUInstallDirs)

if(WIN32)
  foreach(exe Resicrypt resicrypt-cli resicrypt-dde-call)
    if(TARGET ${exe})
      install(TARGETS ${exe} RUNTIME DESTINATION .)
    endif()
  endforeach()
elseif(TARGET resicrypt-cli)
  install(TARGETS resicrypt-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The page's date is the day of the build, or of SOURCE_DATE_EPOCH when set.
  string(TIMESTAMP RESICRYPT_MAN_DATE "%Y-%m-%d" UTC)
  configure_file(${PROJECT_SOURCE_DIR}/docs/resicrypt-cli.1.in ${PROJECT_BINARY_DIR}/resicrypt-cli.1 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/resicrypt-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
