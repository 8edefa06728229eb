# Warnings for our own code. Third-party headers come in as SYSTEM includes.
# VELLORAN_WERROR turns them into errors: on where developers and CI build (the README's
# commands), off in a packager's plain build, where a newer compiler's new warning must not stop
# the program from building.
option(VELLORAN_WERROR "Treat warnings in our own code as errors" OFF)

function(velloran_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
    -Woverloaded-virtual -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough)
  if(VELLORAN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  # GCC 12 reports -Wrestrict inside std::string's operator+ when it inlines it at -O2/-O3
  # (GCC bug 105651, fixed in GCC 13): a false positive in the library, not in our code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
     AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()
