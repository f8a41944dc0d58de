# Turns the page assets into one C++ header of string constants, so the JavaScript, CSS and HTML
# stay ordinary files to edit while the tool carries them inside its binary.
# Usage: cmake -DOUTPUT=header -DASSETS="name=file;name=file" -P EmbedAssets.cmake
set(text "// Generated from the files in tools/kelvora/view at build time; edit those instead.\n")
string(APPEND text "#pragma once\n\n#include <string_view>\n\nnamespace KelvoraCli::ViewAssets\n{\n")
foreach(asset IN LISTS ASSETS)
    string(REPLACE "=" ";" parts "${asset}")
    list(GET parts 0 name)
    list(GET parts 1 file)
    file(READ "${file}" content)
    if(content MATCHES "\\)asset\"")
        message(FATAL_ERROR "${file} contains the raw string delimiter )asset\"")
    endif()
    string(APPEND text "inline constexpr std::string_view ${name} = R\"asset(${content})asset\";\n")
endforeach()
string(APPEND text "} // namespace KelvoraCli::ViewAssets\n")
# Rewritten only when it changes, so an unchanged page does not recompile its users.
set(old "")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
    file(WRITE "${OUTPUT}" "${text}")
endif()
