#include "ui/StringGridView.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace {

const char* const OriginalText = "mapeditorOriginalText";

// In-place editing that writes each keystroke into the cell, and the marks of cells that will
// not save as they read.
class TGridDelegate : public QStyledItemDelegate {
public:
    TGridDelegate(TStringGrid& Grid, const TGridCellCheck& Check, QObject* Parent)
        : QStyledItemDelegate(Parent), grid_(Grid), check_(Check) {
        // Escape cancels the edit: the cell gets back the text it had when editing began.
        connect(this, &QAbstractItemDelegate::closeEditor, this,
                [this](QWidget* Editor, QAbstractItemDelegate::EndEditHint Hint) {
                    const auto* edit = qobject_cast<QLineEdit*>(Editor);
                    if (Hint != QAbstractItemDelegate::RevertModelCache || edit == nullptr)
                        return;
                    const QModelIndex index =
                        edit->property("mapeditorIndex").value<QPersistentModelIndex>();
                    if (index.isValid())
                        grid_.setData(index, edit->property(OriginalText));
                });
    }

    QWidget* createEditor(QWidget* Parent, const QStyleOptionViewItem& Option,
                          const QModelIndex& Index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(Parent, Option, Index);
        if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
            const QPersistentModelIndex index(Index);
            edit->setProperty(OriginalText, Index.data(Qt::EditRole).toString());
            edit->setProperty("mapeditorIndex", QVariant::fromValue(index));
            TStringGrid* grid = &grid_;
            connect(edit, &QLineEdit::textEdited, edit, [grid, index](const QString& Text) {
                if (index.isValid())
                    grid->setData(index, Text);
            });
        }
        return editor;
    }

    // The cell already holds what the editor shows while typing; setting the same text again
    // would move the cursor to the end and drop the editor's undo steps.
    void setEditorData(QWidget* Editor, const QModelIndex& Index) const override {
        if (auto* edit = qobject_cast<QLineEdit*>(Editor);
            edit != nullptr && edit->text() == Index.data(Qt::EditRole).toString())
            return;
        QStyledItemDelegate::setEditorData(Editor, Index);
    }

    bool helpEvent(QHelpEvent* Event, QAbstractItemView* View, const QStyleOptionViewItem& Option,
                   const QModelIndex& Index) override {
        if (Event->type() == QEvent::ToolTip && Index.isValid()) {
            const QString problem =
                check_.Problem(Index.column(), TStringGrid::GridRow(Index.row()));
            if (!problem.isEmpty()) {
                QToolTip::showText(Event->globalPos(), problem, View);
                return true;
            }
        }
        return QStyledItemDelegate::helpEvent(Event, View, Option, Index);
    }

protected:
    void initStyleOption(QStyleOptionViewItem* Option, const QModelIndex& Index) const override {
        QStyledItemDelegate::initStyleOption(Option, Index);
        if (!check_.Problem(Index.column(), TStringGrid::GridRow(Index.row())).isEmpty())
            Option->backgroundBrush = QColor(255, 214, 214);
    }

private:
    TStringGrid& grid_;
    const TGridCellCheck& check_;
};

} // namespace

TStringGridView::TStringGridView(TStringGrid& Grid, QWidget* Parent)
    : QTableView(Parent), grid_(Grid), check_(Grid) {
    // Connected before the view's own selection model is, so the flag is up before that model
    // moves its current index away from rows about to go.
    for (auto about :
         {&QAbstractItemModel::rowsAboutToBeInserted, &QAbstractItemModel::rowsAboutToBeRemoved})
        connect(&Grid, about, this, [this] { gridChanging_ = true; });
    connect(&Grid, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { gridChanging_ = true; });
    setModel(&Grid);
    setItemDelegate(new TGridDelegate(Grid, check_, this));
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);

    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(TStringGrid::DefaultRowHeight);
    verticalHeader()->setMinimumSectionSize(1);

    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setMinimumSectionSize(1);
    header->setDefaultSectionSize(TStringGrid::DefaultColWidth);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setFixedHeight(TStringGrid::DefaultRowHeight);
    header->setStyleSheet(QStringLiteral(
        "QHeaderView::section {"
        " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fefefe, stop:1 #d8dde6);"
        " border: none; border-right: 1px solid #a0a4aa; border-bottom: 1px solid #a0a4aa;"
        " padding-left: 3px; }"));

    // Only the window's mouse handling opens the table's menu.
    for (QWidget* widget : {static_cast<QWidget*>(this), viewport(), static_cast<QWidget*>(header),
                            static_cast<QWidget*>(verticalHeader())})
        widget->setContextMenuPolicy(Qt::PreventContextMenu);
    viewport()->installEventFilter(this);
    header->installEventFilter(this);

    ApplyColWidths();
    connect(header, &QHeaderView::sectionResized, this, [this](int Col, int, int Width) {
        if (!syncing_)
            grid_.SetColWidths(Col, Width);
    });
    connect(&Grid, &TStringGrid::ColWidthChanged, this, [this](int Col, int Width) {
        syncing_ = true;
        horizontalHeader()->resizeSection(Col, Width);
        syncing_ = false;
    });

    connect(&Grid, &TStringGrid::CurrentCellChanged, this, [this] { ShowGridCurrent(); });
    for (auto done : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(&Grid, done, this, [this] {
            gridChanging_ = false;
            ShowGridCurrent();
        });
    connect(&Grid, &QAbstractItemModel::modelReset, this, [this] {
        gridChanging_ = false;
        ApplyColWidths();
        ShowGridCurrent();
    });
    // Another row's Id mark may have changed with this edit.
    connect(&check_, &TGridCellCheck::RepeatsChanged, viewport(), qOverload<>(&QWidget::update));
    ShowGridCurrent();
}

void TStringGridView::MouseToCell(int X, int Y, int& ACol, int& ARow) const {
    ACol = -1;
    ARow = -1;
    const QPoint point(X, Y);
    const QHeaderView* header = horizontalHeader();
    if (header->isVisible() && header->geometry().contains(point)) {
        const int col = header->logicalIndexAt(point.x() - header->x());
        if (col >= 0) {
            ACol = col;
            ARow = 0;
        }
        return;
    }
    if (!viewport()->geometry().contains(point))
        return;
    const QPoint inside = point - viewport()->pos();
    const int col = columnAt(inside.x());
    const int row = rowAt(inside.y());
    if (col >= 0 && row >= 0) {
        ACol = col;
        ARow = TStringGrid::GridRow(row);
    }
}

QRect TStringGridView::CellRect(int ACol, int ARow) const {
    if (ARow == 0) {
        const QHeaderView* header = horizontalHeader();
        const int x = header->sectionViewportPosition(ACol);
        return QRect(header->x() + x, header->y(), header->sectionSize(ACol), header->height())
            .intersected(header->geometry());
    }
    const QRect rect = visualRect(grid_.index(TStringGrid::ModelRow(ARow), ACol));
    return rect.translated(viewport()->pos()).intersected(viewport()->geometry());
}

bool TStringGridView::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(Event);
        const QPoint point =
            static_cast<QWidget*>(Watched)->mapTo(this, mouse->position().toPoint());
        switch (mouse->button()) {
        case Qt::LeftButton:
            emit MouseUp(mbLeft, mouse->modifiers(), point.x(), point.y());
            break;
        case Qt::RightButton:
            emit MouseUp(mbRight, mouse->modifiers(), point.x(), point.y());
            break;
        case Qt::MiddleButton:
            emit MouseUp(mbMiddle, mouse->modifiers(), point.x(), point.y());
            break;
        default:
            break;
        }
    }
    return QTableView::eventFilter(Watched, Event);
}

void TStringGridView::currentChanged(const QModelIndex& Current, const QModelIndex& Previous) {
    QTableView::currentChanged(Current, Previous);
    if (syncing_ || gridChanging_ || !Current.isValid())
        return;
    syncing_ = true;
    grid_.SetCol(Current.column());
    grid_.SetRow(TStringGrid::GridRow(Current.row()));
    syncing_ = false;
}

void TStringGridView::ShowGridCurrent() {
    if (syncing_ || gridChanging_)
        return;
    const QModelIndex index = grid_.index(TStringGrid::ModelRow(grid_.Row()), grid_.Col());
    if (!index.isValid() || index == currentIndex())
        return;
    syncing_ = true;
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    syncing_ = false;
}

void TStringGridView::ApplyColWidths() {
    syncing_ = true;
    for (int col = 0; col < grid_.ColCount(); ++col)
        horizontalHeader()->resizeSection(col, grid_.ColWidths(col));
    syncing_ = false;
}
