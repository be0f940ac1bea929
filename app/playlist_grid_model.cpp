#include "app/playlist_grid_model.h"

#include <QFontMetrics>

#include <cstring>

namespace zorvak {

// Date-times show as "YYYY/MM/DD HH:MM:SS" and take 18 characters; a whole
// number takes 10.
const GridColumn kGridColumns[16] = {
    {"ID", "ID", 30, 10},
    {"f_enable", "有效", 30, 10},
    {"playname", "播放名", 100, 0},
    {"hostname", "主机名", 100, 0},
    {"playlist", "播放列表", 100, 0},
    {"f_filename", "文件名", 100, 0},
    {"listurl", "链接", 100, 0},
    {"f_date", "日期", 100, 0},
    {"remark", "备注", 100, 0},
    {"f_flag", "类型标志", 60, 0},
    {"order_sx", "顺序", 30, 10},
    {"play_time", "播放时长", 60, 10},
    {"online_play", "在线播放", 0, 10},
    {"f_startdate", "开始日期", 0, 18},
    {"f_enddate", "结束日期", 0, 18},
    {"update_time", "更新日期", 0, 18},
};

int FieldColumnWidth(const GridColumn& column, const QFont& font) {
    if (column.width > 0) return column.width;
    QFontMetrics fm(font);
    int byField = fm.horizontalAdvance(QLatin1Char('0')) * column.displayChars + 4;
    int byTitle = fm.horizontalAdvance(QString::fromUtf8(column.title)) + 4;
    return std::max(byField, byTitle);
}

PlaylistGridModel::PlaylistGridModel(QObject* parent) : QAbstractTableModel(parent) {
    for (const GridColumn& c : kGridColumns) {
        int index = -1;
        for (int i = 0; i < kPlaylistColumnCount; ++i)
            if (std::strcmp(kPlaylistColumns[i], c.field) == 0) index = i;
        fieldIndex_.push_back(index);
    }
}

void PlaylistGridModel::Refresh(const ValidNowQuery& query) {
    beginResetModel();
    rows_ = query.IsOpen() ? query.Rows() : std::vector<PlaylistRow>{};
    endResetModel();
}

int PlaylistGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int PlaylistGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(std::size(kGridColumns));
}

QVariant PlaylistGridModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const PlaylistRow& row = rows_.at(static_cast<size_t>(index.row()));
    int field = fieldIndex_.at(static_cast<size_t>(index.column()));
    if (field < 0 || static_cast<size_t>(field) >= row.values.size()) return {};
    return QString::fromStdString(DisplayText(row.values[static_cast<size_t>(field)]));
}

QVariant PlaylistGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal && section >= 0 && section < columnCount())
        return QString::fromUtf8(kGridColumns[section].title);
    if (orientation == Qt::Vertical) return QString();  // the row indicator
    return {};
}

Qt::ItemFlags PlaylistGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace zorvak
