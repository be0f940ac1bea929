#pragma once

#include <QAbstractTableModel>
#include <QFont>

#include <vector>

#include "playlist/store.h"

namespace zorvak {

// One column of the grid: the field it shows, its title and its width in
// pixels; a width of 0 takes the width that follows from the field's display
// width in characters.
struct GridColumn {
    const char* field;
    const char* title;
    int width;
    int displayChars;
};

// The 16 columns of the grid, in order. f_lx, parid and file_md5 have none.
extern const GridColumn kGridColumns[16];

// Width in pixels of a column with `width` 0: the display width in characters
// of its field times the width of a digit in font, plus the cell margins, and
// never narrower than its title.
int FieldColumnWidth(const GridColumn& column, const QFont& font);

// The valid-now selection as a read-only table. It keeps a copy of the rows,
// taken whenever the selection is made afresh or closed (Refresh()), so what
// it shows never changes under the view's feet.
class PlaylistGridModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit PlaylistGridModel(QObject* parent = nullptr);

    // Takes the rows of query anew (none when it is closed).
    void Refresh(const ValidNowQuery& query);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // Index in kPlaylistColumns of each grid column's field.
    std::vector<int> fieldIndex_;
    std::vector<PlaylistRow> rows_;
};

}  // namespace zorvak
