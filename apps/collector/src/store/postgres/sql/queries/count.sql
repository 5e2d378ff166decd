-- How many raw hits are stored.
SELECT count(*) FROM hits
