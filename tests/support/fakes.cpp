#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace korvela::test {

PromptAnswer FakePrompts::show(const Prompt& prompt)
{
    m_shown.push_back(prompt);
    if (prompt.buttons == PromptButtons::Ok)
        return PromptAnswer::Ok;
    if (whileAsked)
        whileAsked(prompt);
    if (m_answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << prompt.text.toStdString();
        return PromptAnswer::No;
    }
    const PromptAnswer a = m_answers.front();
    m_answers.pop_front();
    return a;
}

QStringList FakePrompts::texts() const
{
    QStringList out;
    for (const Prompt& p : m_shown)
        out << p.text;
    return out;
}

QString FakeFileChooser::saveFileName(const SaveFileQuestion& question)
{
    m_asked.push_back(question);
    if (m_answers.empty()) {
        ADD_FAILURE() << "unexpected question where to save: " << question.caption.toStdString();
        return {};
    }
    const QString path = m_answers.front();
    m_answers.pop_front();
    return path;
}

bool FakeSystem::fileExists(const QString& path) const
{
    return QFileInfo(path).isFile();
}

bool FakeSystem::folderExists(const QString& path) const
{
    return QFileInfo(path).isDir();
}

bool FakeSystem::makeFolder(const QString& path)
{
    return QDir().mkdir(path);
}

bool FakeSystem::deleteFile(const QString& path)
{
    return QFile::remove(path);
}

bool FakeSystem::copyFile(const QString& from, const QString& to)
{
    return QFile::copy(from, to);
}

} // namespace korvela::test
