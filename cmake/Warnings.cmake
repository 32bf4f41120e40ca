# The warning flags every target of ours builds with. Third-party code (GoogleTest)
# does not link this target, so its warnings stay its own.
add_library(resicrypt_warnings INTERFACE)
target_compile_options(resicrypt_warnings INTERFACE
  -Wall -Wextra -Wconversion -Wshadow -Wpedantic
  $<$<BOOL:${RESICRYPT_WERROR}>:-Werror>)
