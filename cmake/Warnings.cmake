# Warning and sanitizer sets as interface targets, so every target opts in the same way.
add_library(cadro_warnings INTERFACE)
target_compile_options(cadro_warnings INTERFACE -Wall -Wextra)
if(CADRO_WERROR)
  target_compile_options(cadro_warnings INTERFACE -Werror)
endif()

if(CADRO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(CADRO_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
