# cmake -DINPUT=schema.sql -DOUTPUT=header.h -P embed_schema.cmake
# Writes the SQL text as a C++ raw string literal.
file(READ ${INPUT} text)
set(delimiter "korvela_schema")
string(FIND "${text}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${INPUT} contains the raw string delimiter ${delimiter}")
endif()
file(WRITE ${OUTPUT}.tmp "// Generated from data/schema-postgresql.sql by admin/embed_schema.cmake.\n#pragma once\n\n"
    "inline constexpr char kServerSchemaText[] = R\"${delimiter}(${text})${delimiter}\";\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
