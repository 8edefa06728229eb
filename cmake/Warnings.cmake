# Warnings as errors for our own code. Third-party headers come in as SYSTEM includes.
function(velloran_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
    -Woverloaded-virtual -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough -Werror)
endfunction()
