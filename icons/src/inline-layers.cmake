# cmake -DINPUT=<icon.svg> -DOUTPUT=<file.svg> -P inline-layers.cmake
#
# The application icon draws its layers as <image> references to the other SVGs beside it. An
# icon theme holds the icon alone, so each reference is replaced by the layer's own drawing,
# nested as an <svg> element at the same place and size.
file(READ "${INPUT}" icon)
get_filename_component(dir "${INPUT}" DIRECTORY)

string(REGEX MATCHALL "<image[^>]*/>" images "${icon}")
foreach(image IN LISTS images)
    foreach(attr x y width height xlink:href)
        if(NOT image MATCHES " ${attr}=\"([^\"]*)\"")
            message(FATAL_ERROR "${INPUT}: <image> without ${attr}: ${image}")
        endif()
        string(REPLACE "xlink:" "" name "${attr}")
        set(${name} "${CMAKE_MATCH_1}")
    endforeach()
    file(READ "${dir}/${href}" layer)
    if(NOT layer MATCHES "<svg[^>]* viewBox=\"([^\"]*)\"[^>]*>(.*)</svg>")
        message(FATAL_ERROR "${dir}/${href}: no <svg viewBox=...> element")
    endif()
    set(nested "<svg x=\"${x}\" y=\"${y}\" width=\"${width}\" height=\"${height}\" viewBox=\"${CMAKE_MATCH_1}\">${CMAKE_MATCH_2}</svg>")
    string(REPLACE "${image}" "${nested}" icon "${icon}")
endforeach()

string(REPLACE " xmlns:xlink=\"http://www.w3.org/1999/xlink\"" "" icon "${icon}")
if(icon MATCHES "xlink:")
    message(FATAL_ERROR "${INPUT}: a reference is left after inlining")
endif()
file(WRITE "${OUTPUT}" "${icon}")
