#include "editor/keycap_palette.h"

#include <QApplication>
#include <QDrag>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include "editor/key_names.h"
#include "editor/keytop_list.h"

namespace {

// Cell of one cap: the cap with a margin around it.
constexpr int kCellWidth = 44;
constexpr int kCellHeight = 37;

// Draws a cell's background (selection, hover) and its cap centred in it.
class CapDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem panel = option;
        initStyleOption(&panel, index);
        panel.icon = QIcon();
        panel.features &= ~QStyleOptionViewItem::HasDecoration;
        panel.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);

        const QPixmap cap = index.data(Qt::DecorationRole).value<QPixmap>();
        if (cap.isNull()) return;
        QRectF target(QPointF(), cap.deviceIndependentSize());
        target.moveCenter(QRectF(option.rect).center());
        painter->drawPixmap(target.topLeft(), cap);
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {kCellWidth, kCellHeight};
    }
};

}  // namespace

KeyCapPalette::KeyCapPalette(QObject* parent) : QAbstractTableModel(parent) {}

void KeyCapPalette::configureForKeymapType(KeymapTypeNumber type) {
    beginResetModel();
    keytopList_.clear();
    keytopList_.reserve(128);
    for (const std::uint8_t code : vexa::keytops::paletteCodes(type)) {
        if (vexa::NamedImage image = vexa::keytopImage(code, type); !image.isNull()) keytopList_.append(image);
    }
    type_ = type;
    configured_ = true;
    endResetModel();
}

qsizetype KeyCapPalette::keytopListIndexForIndex(const QModelIndex& index) const {
    // Views also ask about the root (an invalid index), which holds no cap.
    if (!index.isValid() || index.model() != this) return -1;
    const qsizetype at = vexa::keytops::listIndex(index.row(), index.column());
    return at < keytopList_.size() ? at : -1;
}

vexa::NamedImage KeyCapPalette::keytopImageForIndex(const QModelIndex& index) const {
    const qsizetype at = keytopListIndexForIndex(index);
    return at < 0 ? vexa::NamedImage{} : keytopList_[at];
}

int KeyCapPalette::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : vexa::keytops::rowCount(keytopList_.size());
}

int KeyCapPalette::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : vexa::keytops::kColumns;
}

QVariant KeyCapPalette::data(const QModelIndex& index, int role) const {
    const vexa::NamedImage cap = keytopImageForIndex(index);
    if (cap.isNull()) return {};
    const std::int32_t code = vexa::keytops::keycodeFromImageName(cap.name);
    switch (role) {
    case Qt::DecorationRole: return cap.pixmap;
    case Qt::AccessibleTextRole:
    case Qt::ToolTipRole: return vexa::keyName(std::uint32_t(code), type_);
    case Qt::AccessibleDescriptionRole: return QStringLiteral("Key cap: drag it onto a key");
    case KeycodeRole: return code;
    default: return {};
    }
}

Qt::ItemFlags KeyCapPalette::flags(const QModelIndex& index) const {
    if (keytopListIndexForIndex(index) < 0) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList KeyCapPalette::mimeTypes() const { return {QString::fromLatin1(vexa::keytops::kMimeType)}; }

QMimeData* KeyCapPalette::mimeData(const QModelIndexList& indexes) const {
    // Only one cap is ever dragged: the first that holds one.
    for (const QModelIndex& index : indexes) {
        const vexa::NamedImage cap = keytopImageForIndex(index);
        if (cap.isNull()) continue;
        auto* mime = new QMimeData;
        mime->setData(QString::fromLatin1(vexa::keytops::kMimeType),
                      vexa::keytops::dragPayload(vexa::keytops::keycodeFromImageName(cap.name)));
        return mime;
    }
    return nullptr;
}

Qt::DropActions KeyCapPalette::supportedDragActions() const { return Qt::CopyAction; }

KeyCapPaletteView::KeyCapPaletteView(QWidget* parent) : QTableView(parent) {
    setItemDelegate(new CapDelegate(this));
    setShowGrid(false);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setDefaultSectionSize(kCellWidth);
    verticalHeader()->setDefaultSectionSize(kCellHeight);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Like the window's buttons, the palette never takes the focus from the
    // key being edited.
    setFocusPolicy(Qt::NoFocus);
    setFixedWidth(vexa::keytops::kColumns * kCellWidth + 2 * frameWidth() + verticalScrollBar()->sizeHint().width());
    setAccessibleName(QStringLiteral("Key caps"));
}

void KeyCapPaletteView::startDrag(Qt::DropActions supportedActions) {
    QModelIndexList picked;
    for (const QModelIndex& index : selectedIndexes()) {
        if (model()->flags(index) & Qt::ItemIsDragEnabled) picked.append(index);
    }
    if (picked.isEmpty()) return;
    QMimeData* mime = model()->mimeData(picked);
    if (mime == nullptr) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    const QPixmap cap = picked.first().data(Qt::DecorationRole).value<QPixmap>();
    if (!cap.isNull()) {
        drag->setPixmap(cap);
        const QSizeF size = cap.deviceIndependentSize();
        drag->setHotSpot(QPoint(qRound(size.width() / 2), qRound(size.height() / 2)));
    }
    drag->exec(supportedActions & Qt::CopyAction ? Qt::CopyAction : supportedActions, Qt::CopyAction);
}
