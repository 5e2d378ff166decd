-- Removes those of the rollup keys ?1 (a JSON array of ids) that count no hit and no client any more. A
-- key of scope ?2 (Event) counts hits itself; one of the other scopes (?3 EventAnyVersion, ?4
-- Application, ?5 All) stands for every Event key it sums up, and stays while one of them does: the
-- versions are read from the Application keys. Run twice: the second run finds the keys whose Event keys
-- the first removed.
DELETE FROM rollup_keys AS k WHERE k.id IN (SELECT value FROM json_each(?1))
AND NOT EXISTS (SELECT 1 FROM daily_counts c WHERE c.key = k.id)
AND NOT EXISTS (SELECT 1 FROM first_visits f WHERE f.key = k.id)
AND (k.scope = ?2 OR NOT EXISTS (
    SELECT 1 FROM rollup_keys e WHERE e.scope = ?2
    AND (k.scope = ?5 OR e.application = k.application AND (k.scope = ?3 OR e.version = k.version)
         AND (k.scope = ?4 OR e.type = k.type AND e.category = k.category AND e.action = k.action
              AND e.label = k.label))))
