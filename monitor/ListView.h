#pragma once

#include <QColor>
#include <QIcon>
#include <QStackedWidget>
#include <functional>
#include <optional>

class QAbstractItemView;
class QListView;
class QStandardItemModel;
class QTreeView;

namespace morvane::monitor {

// A list of rows that can be shown in report style (columns), as a list or as large
// icons, over one model, so rows, check marks and the selection survive a change of
// style. Row r has a caption (column 0), sub-items (columns 1..), an optional check box
// and an icon. One row at most is selected. Main thread only.
//
// ViewStyle and Checkboxes are properties so that the layout file carries them.
class ListView : public QStackedWidget
{
    Q_OBJECT
    Q_PROPERTY(ViewStyleKind ViewStyle READ ViewStyle WRITE SetViewStyle)
    Q_PROPERTY(bool Checkboxes READ Checkboxes WRITE SetCheckboxes)
    // The widths the columns show (0 for a hidden one), properties so that the layout
    // file keeps them from run to run, and which of them the user sized (bit c for column
    // c), read first: a width set this way is kept as the user's only for those; the
    // others show it until rows come, then go on fitting their content.
    Q_PROPERTY(int UserSizedColumns READ UserSizedColumns WRITE SetUserSizedColumns)
    Q_PROPERTY(int ColumnWidth0 READ ColumnWidth0 WRITE SetColumnWidth0)
    Q_PROPERTY(int ColumnWidth1 READ ColumnWidth1 WRITE SetColumnWidth1)
    Q_PROPERTY(int ColumnWidth2 READ ColumnWidth2 WRITE SetColumnWidth2)
    Q_PROPERTY(int ColumnWidth3 READ ColumnWidth3 WRITE SetColumnWidth3)
    Q_PROPERTY(int ColumnWidth4 READ ColumnWidth4 WRITE SetColumnWidth4)

public:
    enum ViewStyleKind
    {
        vsIcon = 0,
        vsSmallIcon = 1,
        vsList = 2,
        vsReport = 3
    };
    Q_ENUM(ViewStyleKind)

    explicit ListView(QWidget* parent = nullptr);

    // Columns of the report style: captions, widths (0 hides a column), right alignment.
    // Shown columns fit their content (and caption) as rows change, the last one takes
    // the room that is left, and a column the user has sized keeps the user's width.
    struct Column
    {
        QString Caption;
        int Width = 100;
        bool RightAligned = false;
    };
    void SetColumns(const QList<Column>& columns);
    int ColumnCount() const;
    QString ColumnCaption(int column) const;
    void SetColumnCaption(int column, const QString& caption);
    // The user's width of a column, 0 when it fits its content; setting 0 lets it fit again.
    int UserColumnWidth(int column) const;
    void SetUserColumnWidth(int column, int width);
    // The width a column shows now, 0 when it is hidden.
    int ShownColumnWidth(int column) const;
    int ColumnWidth0() const { return ShownColumnWidth(0); }
    int ColumnWidth1() const { return ShownColumnWidth(1); }
    int ColumnWidth2() const { return ShownColumnWidth(2); }
    int ColumnWidth3() const { return ShownColumnWidth(3); }
    int ColumnWidth4() const { return ShownColumnWidth(4); }
    void SetColumnWidth0(int w) { RestoreColumnWidth(0, w); }
    void SetColumnWidth1(int w) { RestoreColumnWidth(1, w); }
    void SetColumnWidth2(int w) { RestoreColumnWidth(2, w); }
    void SetColumnWidth3(int w) { RestoreColumnWidth(3, w); }
    void SetColumnWidth4(int w) { RestoreColumnWidth(4, w); }
    int UserSizedColumns() const;
    void SetUserSizedColumns(int columns) { m_restoreUserSized = columns; }
    // Fits the columns now (it also happens by itself soon after rows change).
    void FitColumns();

    ViewStyleKind ViewStyle() const { return m_style; }
    void SetViewStyle(ViewStyleKind style);
    bool Checkboxes() const { return m_checkboxes; }
    void SetCheckboxes(bool on);

    int RowCount() const;
    // Appends an empty row and returns its index.
    int AddRow();
    void RemoveRow(int row);
    void Clear();

    QString Caption(int row) const;
    void SetCaption(int row, const QString& text);
    // Sub-item i is column i + 1; reading one the row lacks gives "".
    QString SubItem(int row, int index) const;
    void SetSubItem(int row, int index, const QString& text);
    int SubItemCount(int row) const;
    // A value the program keeps with a sub-item beside its text (not shown).
    QVariant SubItemData(int row, int index) const;
    void SetSubItemData(int row, int index, const QVariant& value);
    // The check mark is kept while check boxes are hidden.
    bool Checked(int row) const;
    void SetChecked(int row, bool checked);
    void SetIcon(int row, const QIcon& icon);

    // The selected row, -1 for none.
    int Selected() const;
    void SetSelected(int row);

    // Asked for a row's text colour whenever it is drawn; nothing keeps the default.
    void SetRowColour(std::function<std::optional<QColor>(int row)> colour);
    // Draws every row again (after states changed).
    void Repaint();

    // The view that shows the current style (for focus, context menus and tests).
    QAbstractItemView* CurrentView() const;
    QTreeView* ReportView() const { return m_report; }
    QListView* IconView() const { return m_icons; }

signals:
    // The selection moved (row -1: nothing selected). Emitted also while the program
    // rebuilds the rows; receivers look at their own rebuilding flag.
    void SelectionChanged(int row);
    // The user ticked or unticked a row's check box.
    void CheckToggled(int row);
    // Double click on a row.
    void RowActivated(int row);
    // Enter with a row selected.
    void EnterPressed(int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A width from the layout file: the user's for a column the file says the user sized.
    void RestoreColumnWidth(int column, int width);
    void ApplyCheckboxes(int row);
    void ScheduleFit();
    int LastShownColumn() const;
    void OnItemChanged(int row, int column, const QList<int>& roles);

    QStandardItemModel* m_model;
    QTreeView* m_report;
    QListView* m_icons;
    ViewStyleKind m_style = vsReport;
    bool m_checkboxes = false;
    bool m_settingCheck = false;
    QList<Column> m_columns;
    QList<int> m_userWidths;
    // The width each column last fitted its rows to (or the layout file gave it).
    QList<int> m_fittedWidths;
    int m_restoreUserSized = 0;
    bool m_fitting = false;
    bool m_fitPending = false;
    std::function<std::optional<QColor>(int)> m_colour;
};

} // namespace morvane::monitor
