-- Distinct clients of each day (span 0), ISO week (1), month (2) and the whole period (3) of the days $1 to
-- $2 - 1 (the previous period) and $2 to $3 (the period); of all hits, or of version $4 when given. A span
-- cut by a period's bounds starts at the bound. The clients of a span are those with a presence row in it
-- whose previous one lies before its start, as for any period, so every span is read in one pass.
WITH visits AS (
    SELECT f.day, f.previous_day, f.clients, CASE WHEN f.day < $2 THEN $1 ELSE $2 END AS bound
    FROM first_visits f JOIN rollup_keys k ON k.id = f.key
    WHERE f.day BETWEEN $1 AND $3
      AND CASE WHEN $4::bytea IS NULL THEN k.scope = 3 ELSE k.scope = 2 AND k.version = $4 END),
starts AS (
    SELECT s.span, v.previous_day, v.clients,
           greatest(v.bound, CASE s.span WHEN 0 THEN v.day
                                         WHEN 1 THEN v.day - ((v.day + 3) % 7 + 7) % 7
                                         WHEN 2 THEN date_trunc('month', DATE '1970-01-01' + v.day)::date
                                                     - DATE '1970-01-01'
                                         ELSE v.bound END) AS start
    FROM (VALUES (0), (1), (2), (3)) s(span) CROSS JOIN visits v)
SELECT span, start, sum(clients)::bigint FROM starts WHERE previous_day < start
GROUP BY span, start HAVING sum(clients) > 0
