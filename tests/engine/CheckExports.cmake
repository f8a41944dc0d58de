# Fails unless the shared library's dynamic symbol table defines exactly the three entry points.
execute_process(COMMAND nm -D --defined-only -C ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX REPLACE "\n$" "" symbols "${symbols}")
string(REPLACE "\n" ";" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-fA-F]+ [A-Za-z] " "" name "${line}")
    list(APPEND names "${name}")
endforeach()
list(SORT names)
set(expected
    "VoKelvora::GetKelvoraVersion()"
    "VoKelvora::KelvoraEngine::Create(VoKelvora::KelvoraEngine**, unsigned int, unsigned int, unsigned int)"
    "VoKelvora::KelvoraEngine::Destroy(VoKelvora::KelvoraEngine*)")
list(SORT expected)
if(NOT names STREQUAL expected)
    message(FATAL_ERROR "Unexpected exports:\n${symbols}")
endif()
message(STATUS "Exports: ${names}")
