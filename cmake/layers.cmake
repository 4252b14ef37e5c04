# The layers of the program and what each may use, read from the table in
# ARCHITECTURE.md, which is the one place they are written. Both the build (one library
# per layer, linked to the layers it may use and no others) and the include check
# (scripts/check-layers) take them from here.
#
# keldrin_read_layers(FILE) sets, in the caller's scope:
#   KELDRIN_LAYERS                the layers, from the bottom up
#   KELDRIN_LAYER_FOLDER_<layer>  its folder, relative to the project (src/...)
#   KELDRIN_LAYER_USES_<layer>    the layers it may use
function(keldrin_read_layers file)
  file(STRINGS "${file}" rows REGEX "^\\| `[a-z]+` \\| `src/")
  if(NOT rows)
    message(FATAL_ERROR "${file}: no table of layers (rows of the form | `layer` | `src/folder/` | ... | uses |)")
  endif()
  set(layers)
  foreach(row IN LISTS rows)
    # | `layer` | `src/folder/` | what it holds | `uses` `uses` |
    string(REGEX MATCH "^\\| `([a-z]+)` \\| `(src/[a-z/]+)/` \\|" head "${row}")
    if(NOT head)
      message(FATAL_ERROR "${file}: cannot read the layer row: ${row}")
    endif()
    set(layer "${CMAKE_MATCH_1}")
    set(folder "${CMAKE_MATCH_2}")
    string(REGEX REPLACE "^.*\\|([^|]*)\\|[ ]*$" "\\1" last "${row}")
    string(REGEX MATCHALL "`[a-z]+`" uses "${last}")
    string(REPLACE "`" "" uses "${uses}")
    foreach(used IN LISTS uses)
      if(NOT used IN_LIST layers)
        message(FATAL_ERROR "${file}: layer ${layer} uses ${used}, which is not a layer below it")
      endif()
    endforeach()
    list(APPEND layers ${layer})
    set(KELDRIN_LAYER_FOLDER_${layer} "${folder}" PARENT_SCOPE)
    set(KELDRIN_LAYER_USES_${layer} "${uses}" PARENT_SCOPE)
  endforeach()
  set(KELDRIN_LAYERS "${layers}" PARENT_SCOPE)
endfunction()

# The layer a source file or an included path ("store/journal.h") belongs to: the one
# whose folder is the longest that holds it; empty when none does.
function(keldrin_layer_of path out)
  set(best "")
  set(bestLength 0)
  foreach(layer IN LISTS KELDRIN_LAYERS)
    set(folder "${KELDRIN_LAYER_FOLDER_${layer}}/")
    string(REGEX REPLACE "^src/" "" relative "${folder}")
    foreach(prefix "${folder}" "${relative}")
      string(LENGTH "${prefix}" length)
      string(FIND "${path}" "${prefix}" at)
      if(at EQUAL 0 AND length GREATER bestLength)
        set(best ${layer})
        set(bestLength ${length})
      endif()
    endforeach()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

# The sources and headers of a layer: its folder's own files, not those of a sub-folder
# (a sub-folder that is a layer of its own).
function(keldrin_layer_files layer root out)
  file(GLOB files CONFIGURE_DEPENDS "${root}/${KELDRIN_LAYER_FOLDER_${layer}}/*.cpp"
                                    "${root}/${KELDRIN_LAYER_FOLDER_${layer}}/*.h")
  set(${out} "${files}" PARENT_SCOPE)
endfunction()
