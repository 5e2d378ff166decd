-- Stores the facts of a hit kept before they were decoded at arrival (the upgrade to schema 3).
UPDATE hits SET day = ?, client = ?, rollup_key = ?, value = ?, uid_client = ? WHERE id = ?
