// The key cap palette: a grid of the key caps the keyboard type shown
// offers, two per row, from which caps are dragged onto key buttons.
// KeyCapPalette is the model (the caps in palette order; grid row r, column c
// is list entry r * 2 + c); KeyCapPaletteView shows it and starts the drags.
#pragma once

#include <cstdint>

#include <QAbstractTableModel>
#include <QList>
#include <QTableView>

#include "editor/keymap_type_number.h"
#include "editor/named_images.h"

class KeyCapPalette : public QAbstractTableModel {
    Q_OBJECT

public:
    // The cap's key code, for automation and tests.
    static constexpr int KeycodeRole = Qt::UserRole + 1;

    explicit KeyCapPalette(QObject* parent = nullptr);

    // Empties the list and refills it with the type's caps in order; a code
    // without an image is skipped, so later caps move up.
    void configureForKeymapType(KeymapTypeNumber type);
    // The type the caps were made for (their names start with it); 0 before
    // the first configuration.
    KeymapTypeNumber keymapType() const { return type_; }
    bool isConfigured() const { return configured_; }
    const QList<vexa::NamedImage>& keytopList() const { return keytopList_; }

    // The list entry of a grid index; -1 when there is none (the empty slot
    // after an odd count, or an index of another model).
    qsizetype keytopListIndexForIndex(const QModelIndex& index) const;
    // The cap at a grid index, or a null image.
    vexa::NamedImage keytopImageForIndex(const QModelIndex& index) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    // One cap's code as "%d" under the key cap type; null when none of the
    // indexes holds a cap (no drag).
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;

private:
    KeymapTypeNumber type_ = 0;
    bool configured_ = false;
    QList<vexa::NamedImage> keytopList_;
};

class KeyCapPaletteView : public QTableView {
    Q_OBJECT

public:
    explicit KeyCapPaletteView(QWidget* parent = nullptr);

protected:
    // Drags the picked cap with its image centred under the pointer.
    void startDrag(Qt::DropActions supportedActions) override;
};
