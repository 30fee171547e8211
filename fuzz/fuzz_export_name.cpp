// The export file name: never crashes, and whatever the number and name, the file lies directly
// in doc, is a .doc file and carries no character a file name cannot hold.
#include "fuzz/fuzz_support.h"
#include "report/report_output.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto texts = fuzzTexts(data, size, 2);
    const QString folder = QStringLiteral("/opt/korvela");
    const QString path = korvela::exportFileName(folder, texts[0], texts[1]);
    const QString prefix = folder + u"/doc/";
    FUZZ_CHECK(path.startsWith(prefix));
    const QString file = path.mid(prefix.size());
    FUZZ_CHECK(file.endsWith(u".doc"));
    FUZZ_CHECK(file != u"." && file != u"..");
    for (QChar c : file) {
        FUZZ_CHECK(c != u'/' && c != u'\\' && c != u':' && c != u'*' && c != u'?' && c != u'"' && c != u'<' &&
                   c != u'>' && c != u'|');
        FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7F);
    }
    FUZZ_CHECK(file.toUtf8().size() <= 246);
    return 0;
}
