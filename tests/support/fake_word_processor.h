#pragma once

#include "core/word_processor.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>

namespace korvela::test {

// What a fake word processor did and what it is told to do, shared by every instance a factory
// makes, so a test can see across an instance being replaced.
struct WordProcessorScript
{
    QStringList calls;                 // "start", "open <path>", "replace", "close", "beforeClose" ...
    std::map<QString, Failure> failOn; // operation name -> the failure it returns
    PlaceholderValues lastFill;
    QString openedPath;
    QString savedPath;
    QString protectedWith;
    bool visible = false;
    bool maximized = false;
    int instancesMade = 0;
    // Runs inside saveAs(), after the before-save event, so a test can look at the window then.
    std::function<void()> duringSave;

    int count(const QString& call) const;
};

// A word processor that records its calls and raises its two events the way the real one does:
// a close or save made by a call raises its event inside that call, before it returns; a close
// called again from inside that event is accepted and does nothing.
class FakeWordProcessor final : public WordProcessor
{
public:
    explicit FakeWordProcessor(std::shared_ptr<WordProcessorScript> script);

    // The factory the window gets: each call makes a new instance on the same script.
    static WordProcessorFactory factory(std::shared_ptr<WordProcessorScript> script);

    Status start(WordProcessorEvents* events) override;
    Status switchOffOptions() override;
    bool isRunning() const override { return m_running; }
    Status openDocument(const QString& path) override;
    bool hasOpenDocument() const override { return m_open; }
    Status replacePlaceholders(const PlaceholderValues& values) override;
    Status collapseSelection() override;
    Status protectReadOnly(const QString& password) override;
    Status saveAs(const QString& path) override;
    Status closeDocument() override;
    Status setVisible(bool visible) override;
    Status showMaximized() override;
    Status quit() override;

    // The user's doings in the word processor's window.
    void userCloses();
    // True when the save took place.
    bool userSaves(bool saveAs);
    // The user ends the word processor itself.
    void kill() { m_running = false; }

private:
    Status record(const QString& operation, const QString& detail = {});

    std::shared_ptr<WordProcessorScript> m_script;
    WordProcessorEvents* m_events = nullptr;
    bool m_running = false;
    bool m_open = false;
    bool m_closing = false;
};

} // namespace korvela::test
