# Fails unless the shared library's dynamic symbol table defines exactly the three entry points.
execute_process(COMMAND nm -D --defined-only -C ${LIBRARY} OUTPUT_VARIABLE symbols
                COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[^\n]+" names "${symbols}")
list(TRANSFORM names REPLACE "^[0-9a-fA-F]+ [A-Za-z] " "")
list(SORT names)
set(expected
    "VoKelvora::GetKelvoraVersion()"
    "VoKelvora::KelvoraEngine::Create(VoKelvora::KelvoraEngine**, unsigned int, unsigned int, unsigned int)"
    "VoKelvora::KelvoraEngine::Destroy(VoKelvora::KelvoraEngine*)")
list(SORT expected)
if(NOT names STREQUAL expected)
    message(FATAL_ERROR "Unexpected exports:\n${symbols}")
endif()
