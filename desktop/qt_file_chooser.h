#pragma once

#include "core/file_chooser.h"

class QWidget;

namespace korvela {

// The save dialog of Qt. It opens in the folder of the file chosen last, at first in the home
// folder.
class QtFileChooser final : public FileChooser
{
public:
    explicit QtFileChooser(QWidget* parent = nullptr)
        : m_parent(parent)
    {
    }
    void setParent(QWidget* parent) { m_parent = parent; }
    QString saveFileName(const SaveFileQuestion& question) override;

private:
    QWidget* m_parent;
    QString m_folder;
};

} // namespace korvela
