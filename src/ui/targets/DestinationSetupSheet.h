#pragma once

#include <QDialog>

class DestinationList;
class DestinationTableModel;
class QPushButton;
class QTableView;
class UserDefaults;

// The sheet in which the user orders, adds, removes and picks the default destination. It
// edits the working copy only; whoever runs it stores the copy when it ends with a
// non-zero tag (the OK button carries 1, Cancel 0).
class DestinationSetupSheet : public QDialog {
    Q_OBJECT
public:
    DestinationSetupSheet(UserDefaults& defaults, DestinationList& workingCopy,
                          QWidget* parent = nullptr);

    // Before each run: the working copy from the stored list, buttons as the (empty)
    // selection says, nothing to revert.
    void prepare();

    QTableView* tableView() const { return _tableView; }
    DestinationTableModel* model() const { return _model; }
    QPushButton* removeButton() const { return _removeBtn; }
    QPushButton* setDefaultButton() const { return _setDefaultBtn; }
    QPushButton* revertButton() const { return _revertButton; }
    QPushButton* okButton() const { return _okButton; }
    QPushButton* cancelButton() const { return _cancelButton; }

    int selectedRow() const;
    void selectRow(int row); // -1 clears the selection

    // Adds the record of a folder or application at the end and selects it; false (and
    // nothing changes) for anything else.
    bool addPath(const QString& path);

public slots:
    void setDefault();
    void removeTarget();
    void revert();
    void addApplication();
    void addFolder();

private:
    void _selectionDidChange();

    UserDefaults& _defaults;
    DestinationList& _list;
    DestinationTableModel* _model = nullptr;
    QTableView* _tableView = nullptr;
    QPushButton* _removeBtn = nullptr;
    QPushButton* _setDefaultBtn = nullptr;
    QPushButton* _revertButton = nullptr;
    QPushButton* _okButton = nullptr;
    QPushButton* _cancelButton = nullptr;
};
