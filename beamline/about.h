#pragma once

#include <QDialog>

#include <memory>

namespace Ui
{
class about;
}

// "About": the maker's logo, the program's name, version and build, the
// maker's contact links, and the three version strings the controller
// reported at start-up. The main window creates a new one on each opening.
class about : public QDialog
{
    Q_OBJECT

public:
    explicit about(QWidget* parent = nullptr);
    ~about() override;

private:
    std::unique_ptr<Ui::about> ui;
};
