-- The local playlist store tmpdb.mdb: one table, t_b_data, one row per playlist
-- item. The client only reads and rewrites the rows; it never creates the file
-- or the table (zorvak-mkstore makes the empty store from this file).
--
-- Dates are local date-times written as "YYYY-MM-DD HH:MM:SS" (zero-padded,
-- 24-hour), so that text comparison orders them as date-times. A missing value
-- is NULL. order_sx, play_time and online_play hold integers; every other
-- column holds text (UTF-8). ID is assigned by the database and never reused.
CREATE TABLE t_b_data (
    ID          INTEGER PRIMARY KEY AUTOINCREMENT,
    f_enable    TEXT,
    playname    TEXT,
    hostname    TEXT,
    playlist    TEXT,
    listurl     TEXT,
    f_filename  TEXT,
    f_date      TEXT,
    remark      TEXT,
    f_flag      TEXT,
    parid       TEXT,
    f_lx        TEXT,
    order_sx    INTEGER,
    play_time   INTEGER,
    online_play INTEGER,
    file_md5    TEXT,
    f_startdate TEXT,
    f_enddate   TEXT,
    update_time TEXT
);

-- Both selections list rows in play order.
CREATE INDEX ix_t_b_data_order_sx ON t_b_data (order_sx);
