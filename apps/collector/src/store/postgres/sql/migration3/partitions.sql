-- Schema 3: the partitions of the raw hits, one per day (see tables.sql). zncip_prepare_days() makes those
-- of the days p_first..p_last that are missing; zncip_drop_days_before() drops those of the days before
-- p_day and tells how many hits they held. Collectors at once take turns on a lock of their own; one that
-- waits longer than lock_timeout for a table (a long read of the hits) gives up, and its next hour tries
-- again: meanwhile hits land in hits_default, nothing is refused.
-- The server keeps the text between $$ as it is: the body is indented as it was first written, and stays so.
CREATE FUNCTION zncip_prepare_days(p_first integer, p_last integer) RETURNS integer
LANGUAGE plpgsql SET lock_timeout = '2s' AS $$
    DECLARE
        v_day integer; v_name text; v_made integer := 0;
    BEGIN
        -- The call of every hour finds them there, and locks nothing.
        IF NOT EXISTS (SELECT FROM generate_series(p_first, p_last) d
                       WHERE to_regclass('hits_' || to_char(date '1970-01-01' + d, 'YYYYMMDD')) IS NULL) THEN
            RETURN 0;
        END IF;
        PERFORM pg_advisory_xact_lock(7420, 3);
        -- The server refuses a partition whose day has rows in hits_default: they move into it first, and
        -- none may arrive there meanwhile. An insert routed by the partitions it saw before fails once a
        -- partition is attached, rather than going to it: hits wait meanwhile, readers do not.
        LOCK TABLE hits IN SHARE ROW EXCLUSIVE MODE;
        FOR v_day IN p_first..p_last LOOP
            v_name := 'hits_' || to_char(date '1970-01-01' + v_day, 'YYYYMMDD');
            CONTINUE WHEN to_regclass(v_name) IS NOT NULL;
            EXECUTE format('CREATE TABLE %I (LIKE hits, CHECK (day >= %s AND day < %s))', v_name, v_day, v_day + 1);
            EXECUTE format('WITH moved AS (DELETE FROM hits_default WHERE day = $1 RETURNING *) '
                           'INSERT INTO %I SELECT * FROM moved', v_name) USING v_day;
            EXECUTE format('ALTER TABLE hits ATTACH PARTITION %I FOR VALUES FROM (%s) TO (%s)', v_name, v_day, v_day + 1);
            v_made := v_made + 1;
        END LOOP;
        RETURN v_made;
    END
    $$;

CREATE FUNCTION zncip_drop_days_before(p_day integer) RETURNS bigint
LANGUAGE plpgsql SET lock_timeout = '2s' AS $$
    DECLARE
        v_partition regclass; v_hits bigint; v_removed bigint := 0;
    BEGIN
        PERFORM pg_advisory_xact_lock(7420, 3);
        FOR v_partition IN
            SELECT c.oid FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid
            WHERE i.inhparent = 'hits'::regclass
              AND substring(pg_get_expr(c.relpartbound, c.oid) FROM 'TO \((-?\d+)\)')::integer <= p_day
            ORDER BY 1
        LOOP
            -- Counting reads the day once; deleting would write each row's death to the log, then vacuum it.
            EXECUTE format('SELECT count(*) FROM %s', v_partition) INTO v_hits;
            EXECUTE format('ALTER TABLE hits DETACH PARTITION %s', v_partition);
            EXECUTE format('DROP TABLE %s', v_partition);
            v_removed := v_removed + v_hits;
        END LOOP;
        RETURN v_removed;
    END
    $$;
