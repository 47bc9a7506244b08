#include "monitor/ListView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

namespace morvane::monitor {

namespace {

// The check mark lives here as well, so hiding the check boxes (which drops the check
// state role) does not forget it.
constexpr int kCheckRole = Qt::UserRole + 1;

// Draws a row in the colour its owner asks for.
class RowColourDelegate : public QStyledItemDelegate
{
public:
    RowColourDelegate(std::function<std::optional<QColor>(int)>* colour, QObject* parent)
        : QStyledItemDelegate(parent), m_colour(colour)
    {
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!*m_colour)
            return;
        // A selected row keeps the selection's colours, so it stays readable.
        if (const auto colour = (*m_colour)(index.row()))
            option->palette.setColor(QPalette::Text, *colour);
    }

private:
    std::function<std::optional<QColor>(int)>* m_colour;
};

constexpr int kSubItemDataRole = Qt::UserRole + 2;

} // namespace

ListView::ListView(QWidget* parent)
    : QStackedWidget(parent), m_model(new QStandardItemModel(this)), m_report(new QTreeView(this)),
      m_icons(new QListView(this))
{
    m_report->setObjectName("ReportView");
    m_icons->setObjectName("IconView");
    m_report->setModel(m_model);
    m_icons->setModel(m_model);
    m_icons->setSelectionModel(m_report->selectionModel());
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(m_report), static_cast<QAbstractItemView*>(m_icons)}) {
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setItemDelegate(new RowColourDelegate(&m_colour, view));
        view->installEventFilter(this);
        connect(view, &QAbstractItemView::doubleClicked, this,
                [this](const QModelIndex& index) { emit RowActivated(index.row()); });
    }
    m_report->setRootIsDecorated(false);
    m_report->setItemsExpandable(false);
    m_report->setUniformRowHeights(true);
    m_report->setAllColumnsShowFocus(true);
    m_report->header()->setStretchLastSection(true);
    m_report->setTextElideMode(Qt::ElideMiddle);
    // A section the user drags keeps its width; the program's own fitting does not count.
    connect(m_report->header(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        if (m_fitting || column < 0 || column == LastShownColumn() || size <= 0)
            return;
        if (column >= m_userWidths.size())
            m_userWidths.resize(column + 1);
        m_userWidths[column] = size;
    });
    m_icons->setWrapping(true);
    m_icons->setResizeMode(QListView::Adjust);
    addWidget(m_report);
    addWidget(m_icons);
    SetViewStyle(vsReport);

    connect(m_report->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { emit SelectionChanged(Selected()); });
    connect(m_model, &QStandardItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex&, const QList<int>& roles) {
                OnItemChanged(topLeft.row(), topLeft.column(), roles);
                ScheduleFit();
            });
    connect(m_model, &QStandardItemModel::rowsInserted, this, [this] { ScheduleFit(); });
    connect(m_model, &QStandardItemModel::rowsRemoved, this, [this] { ScheduleFit(); });
    connect(m_model, &QStandardItemModel::headerDataChanged, this, [this] { ScheduleFit(); });
}

int ListView::LastShownColumn() const
{
    for (int i = m_model->columnCount() - 1; i >= 0; --i)
        if (!m_report->isColumnHidden(i))
            return i;
    return -1;
}

int ListView::UserColumnWidth(int column) const
{
    return column >= 0 && column < m_userWidths.size() ? m_userWidths[column] : 0;
}

void ListView::SetUserColumnWidth(int column, int width)
{
    if (column < 0)
        return;
    if (column >= m_userWidths.size())
        m_userWidths.resize(column + 1);
    m_userWidths[column] = std::max(0, width);
    ScheduleFit();
}

int ListView::UserSizedColumns() const
{
    int columns = 0;
    for (int i = 0; i < m_userWidths.size() && i < 31; ++i)
        if (m_userWidths[i] > 0)
            columns |= 1 << i;
    return columns;
}

void ListView::RestoreColumnWidth(int column, int width)
{
    if (column < 0 || column >= 31 || width <= 0)
        return;
    if (m_restoreUserSized & (1 << column)) {
        SetUserColumnWidth(column, width);
        return;
    }
    // A width the program fitted stays the program's to fit: kept as the user's, a
    // column fitted to an empty list would stay too narrow for the names to come. It is
    // shown until rows come, so a list that opens empty saves the layout it was given.
    if (column >= m_fittedWidths.size())
        m_fittedWidths.resize(column + 1);
    m_fittedWidths[column] = width;
    ScheduleFit();
}

void ListView::ScheduleFit()
{
    // Many rows change at once: the widths are worked out once, when they are done.
    if (m_fitPending)
        return;
    m_fitPending = true;
    QTimer::singleShot(0, this, [this] { FitColumns(); });
}

void ListView::FitColumns()
{
    m_fitPending = false;
    m_fitting = true;
    const int last = LastShownColumn();
    QHeaderView* header = m_report->header();
    // Without rows there is nothing to fit: a column keeps the width its last rows (or
    // the layout file) gave it, and fits its caption only when it never had one.
    const bool empty = RowCount() == 0;
    for (int i = 0; i < m_model->columnCount(); ++i) {
        if (m_report->isColumnHidden(i) || i == last)
            continue;
        const int user = UserColumnWidth(i);
        const int fitted = i < m_fittedWidths.size() ? m_fittedWidths[i] : 0;
        if (user > 0)
            header->resizeSection(i, user);
        else if (empty && fitted > 0)
            header->resizeSection(i, fitted);
        else
            m_report->resizeColumnToContents(i);
        // What the rows needed, before a narrow window makes the first column give way.
        if (!empty && user == 0) {
            if (i >= m_fittedWidths.size())
                m_fittedWidths.resize(i + 1);
            m_fittedWidths[i] = header->sectionSize(i);
        }
    }
    // A long name must not push the other columns out of sight: a first column that fits
    // its content gives way, down to its designed width, and its texts are cut in the
    // middle (the whole name is the row's tool tip).
    if (last > 0 && !m_report->isColumnHidden(0) && UserColumnWidth(0) == 0) {
        const QAbstractItemView* report = m_report; // the hint is public here
        int others = std::max(report->sizeHintForColumn(last), header->sectionSizeHint(last));
        for (int i = 1; i < last; ++i)
            if (!m_report->isColumnHidden(i))
                others += header->sectionSize(i);
        const int floor = m_columns.isEmpty() ? 100 : m_columns[0].Width;
        const int room = m_report->viewport()->width() - others;
        if (header->sectionSize(0) > room)
            header->resizeSection(0, std::max(floor, room));
    }
    m_fitting = false;
}

int ListView::ShownColumnWidth(int column) const
{
    if (column < 0 || column >= m_model->columnCount() || m_report->isColumnHidden(column))
        return 0;
    return m_report->header()->sectionSize(column);
}

void ListView::SetColumns(const QList<Column>& columns)
{
    m_columns = columns;
    m_model->setColumnCount(int(columns.size()));
    for (int i = 0; i < columns.size(); ++i) {
        m_model->setHeaderData(i, Qt::Horizontal, columns[i].Caption);
        if (columns[i].RightAligned)
            m_model->setHeaderData(i, Qt::Horizontal, int(Qt::AlignRight | Qt::AlignVCenter),
                                   Qt::TextAlignmentRole);
        m_report->setColumnHidden(i, columns[i].Width == 0);
    }
    ScheduleFit();
}

int ListView::ColumnCount() const
{
    return m_model->columnCount();
}

QString ListView::ColumnCaption(int column) const
{
    return m_model->headerData(column, Qt::Horizontal).toString();
}

void ListView::SetColumnCaption(int column, const QString& caption)
{
    if (column >= 0 && column < ColumnCount())
        m_model->setHeaderData(column, Qt::Horizontal, caption);
}

void ListView::SetViewStyle(ViewStyleKind style)
{
    if (style < vsIcon || style > vsReport)
        style = vsReport;
    m_style = style;
    if (style == vsReport) {
        setCurrentWidget(m_report);
        return;
    }
    if (style == vsIcon) {
        m_icons->setViewMode(QListView::IconMode);
        m_icons->setFlow(QListView::LeftToRight);
        m_icons->setIconSize(QSize(32, 32));
        m_icons->setGridSize(QSize(96, 64));
        m_icons->setWordWrap(true);
    } else {
        m_icons->setViewMode(QListView::ListMode);
        m_icons->setFlow(QListView::TopToBottom);
        m_icons->setIconSize(QSize(16, 16));
        m_icons->setGridSize(QSize());
        m_icons->setWordWrap(false);
    }
    m_icons->setWrapping(true);
    setCurrentWidget(m_icons);
}

void ListView::SetCheckboxes(bool on)
{
    m_checkboxes = on;
    for (int row = 0; row < RowCount(); ++row)
        ApplyCheckboxes(row);
}

int ListView::RowCount() const
{
    return m_model->rowCount();
}

int ListView::AddRow()
{
    QList<QStandardItem*> items;
    const int columns = std::max(1, ColumnCount());
    for (int i = 0; i < columns; ++i) {
        auto* item = new QStandardItem;
        item->setEditable(false);
        if (i < m_columns.size() && m_columns[i].RightAligned)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        items << item;
    }
    items.first()->setData(false, kCheckRole);
    m_model->appendRow(items);
    const int row = RowCount() - 1;
    ApplyCheckboxes(row);
    return row;
}

void ListView::RemoveRow(int row)
{
    if (row >= 0 && row < RowCount())
        m_model->removeRow(row);
}

void ListView::Clear()
{
    m_model->removeRows(0, RowCount());
}

QString ListView::Caption(int row) const
{
    const QStandardItem* item = m_model->item(row, 0);
    return item ? item->text() : QString();
}

void ListView::SetCaption(int row, const QString& text)
{
    if (QStandardItem* item = m_model->item(row, 0)) {
        item->setText(text);
        item->setToolTip(text);
    }
}

QString ListView::SubItem(int row, int index) const
{
    const QStandardItem* item = m_model->item(row, index + 1);
    return item ? item->text() : QString();
}

QVariant ListView::SubItemData(int row, int index) const
{
    const QStandardItem* item = m_model->item(row, index + 1);
    return item ? item->data(kSubItemDataRole) : QVariant();
}

void ListView::SetSubItemData(int row, int index, const QVariant& value)
{
    if (row < 0 || row >= RowCount() || index < 0)
        return;
    if (!m_model->item(row, index + 1))
        SetSubItem(row, index, QString());
    m_model->item(row, index + 1)->setData(value, kSubItemDataRole);
}

void ListView::SetSubItem(int row, int index, const QString& text)
{
    if (row < 0 || row >= RowCount() || index < 0)
        return;
    if (index + 1 >= m_model->columnCount())
        m_model->setColumnCount(index + 2);
    QStandardItem* item = m_model->item(row, index + 1);
    if (!item) {
        item = new QStandardItem;
        item->setEditable(false);
        if (index + 1 < m_columns.size() && m_columns[index + 1].RightAligned)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_model->setItem(row, index + 1, item);
    }
    item->setText(text);
}

int ListView::SubItemCount(int row) const
{
    int count = 0;
    for (int column = 1; column < m_model->columnCount(); ++column)
        if (m_model->item(row, column))
            count = column;
    return count;
}

bool ListView::Checked(int row) const
{
    const QStandardItem* item = m_model->item(row, 0);
    return item && item->data(kCheckRole).toBool();
}

void ListView::SetChecked(int row, bool checked)
{
    QStandardItem* item = m_model->item(row, 0);
    if (!item)
        return;
    m_settingCheck = true;
    item->setData(checked, kCheckRole);
    m_settingCheck = false;
    ApplyCheckboxes(row);
}

void ListView::SetIcon(int row, const QIcon& icon)
{
    if (QStandardItem* item = m_model->item(row, 0))
        item->setIcon(icon);
}

int ListView::Selected() const
{
    const QModelIndexList rows = m_report->selectionModel()->selectedRows(0);
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ListView::SetSelected(int row)
{
    QItemSelectionModel* selection = m_report->selectionModel();
    if (row < 0 || row >= RowCount()) {
        selection->clearSelection();
        return;
    }
    const QModelIndex index = m_model->index(row, 0);
    selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ListView::SetRowColour(std::function<std::optional<QColor>(int)> colour)
{
    m_colour = std::move(colour);
}

void ListView::Repaint()
{
    m_report->viewport()->update();
    m_icons->viewport()->update();
}

QAbstractItemView* ListView::CurrentView() const
{
    return m_style == vsReport ? static_cast<QAbstractItemView*>(m_report) : m_icons;
}

bool ListView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_report && event->type() == QEvent::Resize)
        ScheduleFit();
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && Selected() >= 0) {
            emit EnterPressed(Selected());
            return true;
        }
    }
    return QStackedWidget::eventFilter(watched, event);
}

void ListView::ApplyCheckboxes(int row)
{
    QStandardItem* item = m_model->item(row, 0);
    if (!item)
        return;
    m_settingCheck = true;
    if (m_checkboxes) {
        item->setCheckable(true);
        item->setCheckState(item->data(kCheckRole).toBool() ? Qt::Checked : Qt::Unchecked);
    } else {
        item->setCheckable(false);
        item->setData(QVariant(), Qt::CheckStateRole);
    }
    m_settingCheck = false;
}

void ListView::OnItemChanged(int row, int column, const QList<int>& roles)
{
    if (m_settingCheck || column != 0 || !m_checkboxes)
        return;
    if (!roles.isEmpty() && !roles.contains(Qt::CheckStateRole))
        return;
    QStandardItem* item = m_model->item(row, 0);
    if (!item)
        return;
    const bool checked = item->checkState() == Qt::Checked;
    if (checked == item->data(kCheckRole).toBool())
        return;
    m_settingCheck = true;
    item->setData(checked, kCheckRole);
    m_settingCheck = false;
    emit CheckToggled(row);
}

} // namespace morvane::monitor
