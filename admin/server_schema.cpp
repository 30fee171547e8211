#include "admin/server_schema.h"

#include "admin/server_schema_text.h"

namespace korvela::admin {

std::string_view serverSchema()
{
    return {kServerSchemaText, sizeof kServerSchemaText - 1};
}

} // namespace korvela::admin
