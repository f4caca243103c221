# The layers' include rules (docs/architecture.md), checked over src/:
#   platform/  includes nothing from store/, ops/ or app/
#   store/     includes nothing from ops/ or app/
# First the check is shown to catch a breach, on a scratch tree that has
# one; then src/ must have none.
#   cmake -DSOURCE_DIR=<repo>/src -DSCRATCH=<folder> -P layers.cmake

# Sets `out` to the "file: include" lines of the sources under `root`/`layer`
# whose quoted includes begin with one of `forbidden` (a regex of folders).
function(find_breaches root layer forbidden out)
  file(GLOB_RECURSE sources "${root}/${layer}/*.cpp" "${root}/${layer}/*.h" "${root}/${layer}/*.inc")
  set(found "")
  foreach(source ${sources})
    file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"(${forbidden})/")
    foreach(line ${lines})
      file(RELATIVE_PATH name "${root}" "${source}")
      list(APPEND found "${name}: ${line}")
    endforeach()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()


function(check_tree root out)
  set(all "")
  find_breaches("${root}" platform "store|ops|app" breaches)
  list(APPEND all ${breaches})
  find_breaches("${root}" store "ops|app" breaches)
  list(APPEND all ${breaches})
  set(${out} "${all}" PARENT_SCOPE)
endfunction()

if(NOT SOURCE_DIR OR NOT SCRATCH)
  message(FATAL_ERROR "layers.cmake needs -DSOURCE_DIR and -DSCRATCH")
endif()

# A tree with one breach in each layer, and allowed includes beside them.
file(REMOVE_RECURSE "${SCRATCH}")
file(WRITE "${SCRATCH}/store/bad.cpp" "#include \"store/store.h\"\n#include \"platform/fs.h\"\n  #  include \"app/runstate.h\"\n")
file(WRITE "${SCRATCH}/platform/bad.h" "#include \"platform/sysapi.h\"\n#include \"store/layout.h\"\n")
file(WRITE "${SCRATCH}/ops/fine.cpp" "#include \"app/messages.h\"\n")
check_tree("${SCRATCH}" caught)
list(LENGTH caught count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "the layer check found ${count} breaches in a tree with 2: ${caught}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")

check_tree("${SOURCE_DIR}" breaches)
if(breaches)
  list(JOIN breaches "\n  " text)
  message(FATAL_ERROR "includes across the layers' rules (docs/architecture.md):\n  ${text}")
endif()
message(STATUS "layers: platform/ and store/ include nothing from the layers above them")
