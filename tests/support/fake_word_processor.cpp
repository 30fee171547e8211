#include "support/fake_word_processor.h"

#include "core/failure_codes.h"

namespace korvela::test {

int WordProcessorScript::count(const QString& call) const
{
    return static_cast<int>(calls.count(call));
}

FakeWordProcessor::FakeWordProcessor(std::shared_ptr<WordProcessorScript> script)
    : m_script(std::move(script))
{
    ++m_script->instancesMade;
}

WordProcessorFactory FakeWordProcessor::factory(std::shared_ptr<WordProcessorScript> script)
{
    return
        [script]() -> std::unique_ptr<WordProcessor> { return std::make_unique<FakeWordProcessor>(script); };
}

Status FakeWordProcessor::record(const QString& operation, const QString& detail)
{
    m_script->calls << (detail.isEmpty() ? operation : operation + u' ' + detail);
    if (const auto f = m_script->failOn.find(operation); f != m_script->failOn.end())
        return f->second;
    return {};
}

Status FakeWordProcessor::start(WordProcessorEvents* events)
{
    m_events = events;
    Status s = record(QStringLiteral("start"));
    m_running = s.ok();
    return s;
}

Status FakeWordProcessor::switchOffOptions()
{
    return record(QStringLiteral("options"));
}

Status FakeWordProcessor::openDocument(const QString& path)
{
    if (!m_running)
        return Failure{FailureCode::OfficeEnded, QStringLiteral("已经结束。")};
    Status s = record(QStringLiteral("open"), path);
    if (s) {
        m_open = true;
        m_script->openedPath = path;
    }
    return s;
}

Status FakeWordProcessor::replacePlaceholders(const PlaceholderValues& values)
{
    m_script->lastFill = values;
    return record(QStringLiteral("replace"));
}

Status FakeWordProcessor::collapseSelection()
{
    return record(QStringLiteral("collapse"));
}

Status FakeWordProcessor::protectReadOnly(const QString& password)
{
    m_script->protectedWith = password;
    return record(QStringLiteral("protect"));
}

Status FakeWordProcessor::saveAs(const QString& path)
{
    bool cancel = false;
    m_script->calls << QStringLiteral("beforeSave");
    if (m_events)
        m_events->documentBeforeSave(true, cancel);
    if (cancel)
        return Failure{FailureCode::SaveRefused, QStringLiteral("保存被拒绝。")};
    if (m_script->duringSave)
        m_script->duringSave();
    Status s = record(QStringLiteral("save"), path);
    if (s)
        m_script->savedPath = path;
    return s;
}

Status FakeWordProcessor::closeDocument()
{
    if (!m_open || m_closing) {
        m_script->calls << QStringLiteral("close again");
        return {};
    }
    Status s = record(QStringLiteral("close"));
    if (!s)
        return s;
    m_closing = true;
    bool cancel = false;
    m_script->calls << QStringLiteral("beforeClose");
    if (m_events)
        m_events->documentBeforeClose(cancel);
    m_script->calls << QStringLiteral("afterBeforeClose");
    m_closing = false;
    if (!cancel)
        m_open = false;
    return {};
}

Status FakeWordProcessor::setVisible(bool visible)
{
    Status s = record(visible ? QStringLiteral("show") : QStringLiteral("hide"));
    if (s) {
        m_script->visible = visible;
        if (!visible)
            m_script->maximized = false;
    }
    return s;
}

Status FakeWordProcessor::showMaximized()
{
    Status s = record(QStringLiteral("maximize"));
    if (s)
        m_script->maximized = true;
    return s;
}

Status FakeWordProcessor::quit()
{
    m_running = false;
    return record(QStringLiteral("quit"));
}

void FakeWordProcessor::userCloses()
{
    (void)closeDocument();
}

bool FakeWordProcessor::userSaves(bool saveAs)
{
    bool cancel = false;
    if (m_events)
        m_events->documentBeforeSave(saveAs, cancel);
    return !cancel;
}

} // namespace korvela::test
