-- Schema 2: the hits stored before it whose body may carry a uid beside a cid, for the migration to link.
DECLARE stored_uids NO SCROLL CURSOR FOR
SELECT id, received_us, body FROM hits WHERE client IS NOT NULL AND position('uid' IN body) > 0 ORDER BY id
