-- A client present under a key on a day; changes nothing when it already was.
INSERT OR IGNORE INTO presence (client, key, day) VALUES (?, ?, ?)
