# Compiler warnings and sanitizers shared by every target of the tree.
add_library(vantorel_options INTERFACE)
target_compile_options(vantorel_options INTERFACE -Wall -Wextra)
if(VANTOREL_WERROR)
  target_compile_options(vantorel_options INTERFACE -Werror)
endif()

if(VANTOREL_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(VANTOREL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(WIN32)
  # 32-bit Windows target: static runtime so the binaries need no extra DLLs.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 UNICODE _UNICODE)
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# vantorel_module(<name> <sources...>): a run-time loaded module without "lib" prefix.
function(vantorel_module name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "")
  target_link_libraries(${name} PRIVATE vantorel_options)
endfunction()
