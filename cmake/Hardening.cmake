# The hardening Debian builds its own packages with: stack protector,
# fortified C library calls, relocations read-only and bound at start.
# Sanitizer and fuzz builds leave it out (their runtimes stand in for the
# same calls); fortification needs an optimised build.
if(NOT TOVIK_SANITIZE AND NOT TOVIK_BUILD_FUZZ)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
  if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
    add_compile_definitions(_FORTIFY_SOURCE=2)
  endif()
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
