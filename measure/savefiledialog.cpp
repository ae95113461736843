#include "measure/savefiledialog.h"

#include "export/nexusfile.h"

#include <QFileDialog>
#include <QPointer>

namespace savefiledialog
{

QString ask(QWidget* parent, const QString& caption, const QString& proposed,
            const QStringList& filters)
{
    QPointer<QFileDialog> dialog =
        new QFileDialog(parent, caption, proposed, filters.join(QStringLiteral(";;")));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    const auto followFilter = [dialog](const QString& filter) {
        dialog->setDefaultSuffix(filter == NexusFile::kFileFilter ? QStringLiteral("nxs")
                                                                  : QString());
    };
    followFilter(dialog->selectedNameFilter());
    QObject::connect(dialog, &QFileDialog::filterSelected, dialog, followFilter);

    QString path;
    // The parent may go while the dialog is open (the main window closing):
    // the dialog goes with it.
    if (dialog->exec() == QDialog::Accepted && dialog)
        path = dialog->selectedFiles().value(0);
    delete dialog;
    return path;
}

} // namespace savefiledialog
