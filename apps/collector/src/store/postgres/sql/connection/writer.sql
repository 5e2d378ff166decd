-- The writing session's planner. Its batches look up a handful of rows each by unique key (clients, agents,
-- keys) in tables the server keeps in memory, and the batch function plans its statements once for the
-- connection's life. At the default cost of a random page, a table of a few thousand clients looks cheaper
-- to read whole and hash than to probe ten times, and every batch would read it whole, for days.
SET random_page_cost = 1.1
