#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace savefiledialog
{

// Asks for the file to save to, as QFileDialog::getSaveFileName does with
// its default options: `caption`, `proposed` as the name, the `filters` in
// this order, the first one chosen. A name typed without a suffix while the
// NeXus filter is chosen gets ".nxs" (the dialog then also asks before that
// file is replaced). Empty when the operator cancelled.
QString ask(QWidget* parent, const QString& caption, const QString& proposed,
            const QStringList& filters);

} // namespace savefiledialog
