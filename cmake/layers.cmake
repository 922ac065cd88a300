# kestrin_layer(NAME FOLDER [VISIBLE...]): a static library of FOLDER/*.cpp
# whose include root holds FOLDER and the VISIBLE folders, and nothing else.
# Sources include root-relative ("ts/packet.h"); an include of any other
# folder, a higher layer among them, then fails to compile.
#
# The root is a directory of links in the build tree. Where links cannot be
# made (a Windows account without the right), the source tree itself is
# the root and the direction is not checked on that machine.
# kestrin_layer_root(OUT FOLDER [VISIBLE...]): makes the include root of
# FOLDER and stores its path in OUT.
function(kestrin_layer_root out folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${root})
  set(linked TRUE)
  foreach(visible ${folder} ${ARGN})
    if(NOT IS_SYMLINK ${root}/${visible})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${visible} ${root}/${visible} RESULT result SYMBOLIC)
      if(NOT result STREQUAL "0")
        set(linked FALSE)
      endif()
    endif()
  endforeach()
  if(NOT linked)
    message(STATUS "${folder}/: no links in the build tree; layer direction not checked here")
    set(root ${CMAKE_SOURCE_DIR})
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

function(kestrin_layer name folder)
  kestrin_layer_root(root ${folder} ${ARGN})

  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${root})
  if(NOT MSVC)
    # No exceptions and no RTTI in the product code.
    target_compile_options(${name} PRIVATE -fno-exceptions -fno-rtti)
  endif()
endfunction()
