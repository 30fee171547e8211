#pragma once

// Filling a template's placeholders in a document of the office.

#include "core/word_processor.h"
#include "office/libreoffice_uno.h"

#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/uno/Reference.hxx>

namespace korvela::lo {

// Replaces every occurrence of each placeholder in `document` with its value, taken literally,
// in one pass: all occurrences are found first, then each gets its value, so a value is never
// searched again and text a user typed is never taken for a placeholder. Placeholders match
// without regard to letter case. Throws the office's exceptions.
void fillPlaceholders(const css::uno::Reference<css::frame::XModel>& document,
                      const PlaceholderValues& values);

} // namespace korvela::lo
