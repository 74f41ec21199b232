# The hardening Debian builds its own packages with: stack protector,
# fortified C library calls, relocations read-only and bound at start.
# Sanitizer and fuzz builds leave it out (their runtimes stand in for the
# same calls); fortification needs an optimised build. Windows programs get
# the same from MinGW (the linker marks them for address randomisation and
# no-execute data by default); MSVC has its own defaults.
if(NOT TOVIK_SANITIZE AND NOT TOVIK_BUILD_FUZZ AND NOT MSVC)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
  if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
    add_compile_definitions(_FORTIFY_SOURCE=2)
  endif()
  if(WIN32)
    # The stack protector's and the fortified calls' runtime.
    link_libraries(ssp)
  else()
    add_link_options(-Wl,-z,relro -Wl,-z,now)
  endif()
endif()
