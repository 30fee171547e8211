#pragma once

#include "core/file_chooser.h"
#include "core/prompts.h"
#include "core/system_services.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

namespace korvela::test {

// Answers prompts from a queue and records every prompt shown. A question nothing answered is a
// test failure (answered No so the code under test goes on).
class FakePrompts final : public Prompts
{
public:
    PromptAnswer show(const Prompt& prompt) override;

    void answer(PromptAnswer a) { m_answers.push_back(a); }
    const std::vector<Prompt>& shown() const { return m_shown; }
    QStringList texts() const;
    const Prompt& last() const { return m_shown.back(); }
    void clear() { m_shown.clear(); }
    bool allAnswersUsed() const { return m_answers.empty(); }
    // Runs while a question is open, before it is answered.
    std::function<void(const Prompt&)> whileAsked;

private:
    std::deque<PromptAnswer> m_answers;
    std::vector<Prompt> m_shown;
};

// Answers the questions where to save from a queue of paths (an empty one: the user cancelled) and
// records every question. A question nothing answered is a test failure (answered as cancelled).
class FakeFileChooser final : public FileChooser
{
public:
    QString saveFileName(const SaveFileQuestion& question) override;

    void answer(const QString& path) { m_answers.push_back(path); }
    const std::vector<SaveFileQuestion>& asked() const { return m_asked; }

private:
    std::deque<QString> m_answers;
    std::vector<SaveFileQuestion> m_asked;
};

// File operations on the real file system; everything else recorded.
class FakeSystem final : public SystemServices
{
public:
    explicit FakeSystem(QString programFolder = {})
        : m_programFolder(std::move(programFolder))
    {}

    bool acquireSingleInstance() override { return !otherCopyRunning; }
    int screenWidth() const override { return width; }
    QString programFolder() const override { return m_programFolder; }
    bool fileExists(const QString& path) const override;
    bool folderExists(const QString& path) const override;
    bool makeFolder(const QString& path) override;
    bool deleteFile(const QString& path) override;
    bool copyFile(const QString& from, const QString& to) override;
    void openUrl(const QString& url) override { openedUrls << url; }
    void endProgram(int code) override
    {
        ended = true;
        exitCode = code;
    }

    bool otherCopyRunning = false;
    int width = 1280;
    QStringList openedUrls;
    bool ended = false;
    int exitCode = -1;

private:
    QString m_programFolder;
};

} // namespace korvela::test
