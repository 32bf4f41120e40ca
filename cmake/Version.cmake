# The version of Resicrypt is project(... VERSION ...) and nothing else: this file
# hands it to the code (a generated header) and to every Windows exe (a version
# resource), and keeps build paths and link times out of release binaries.

# "3.01": the text shown everywhere; 3 and 1 for the numeric fields of a resource.
math(EXPR RESICRYPT_VERSION_MAJOR "${PROJECT_VERSION_MAJOR}")
math(EXPR RESICRYPT_VERSION_MINOR "${PROJECT_VERSION_MINOR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/resicrypt_version.h.in
  ${PROJECT_BINARY_DIR}/generated/resicrypt_version.h @ONLY)

add_library(resicrypt_version INTERFACE)
target_include_directories(resicrypt_version INTERFACE ${PROJECT_BINARY_DIR}/generated)

# resicrypt_version_info(TARGET DESCRIPTION): TARGET sees resicrypt_version.h and,
# on Windows, carries a version resource with DESCRIPTION.
set(RESICRYPT_VERSION_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version_info.rc.in)
function(resicrypt_version_info target description)
  target_link_libraries(${target} PRIVATE resicrypt_version)
  if(WIN32)
    set(RESICRYPT_EXE_NAME ${target})
    set(RESICRYPT_EXE_DESCRIPTION "${description}")
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${RESICRYPT_VERSION_RC_TEMPLATE} ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
  endif()
endfunction()

# Release binaries are the same bytes from any checkout at any time: no source or
# build folder in them (file names in the code and the debug information), and
# no link time stamp in a PE header. A Windows exe is stripped as it is linked:
# strip afterwards would write the time of stripping into the header.
set(release_c_cxx "$<AND:$<CONFIG:Release>,$<COMPILE_LANGUAGE:C,CXX>>")
add_compile_options(
  "$<${release_c_cxx}:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>"
  "$<${release_c_cxx}:-ffile-prefix-map=${PROJECT_BINARY_DIR}/=>")
if(MINGW)
  add_link_options("$<$<CONFIG:Release>:LINKER:--no-insert-timestamp>" "$<$<CONFIG:Release>:-s>")
endif()
