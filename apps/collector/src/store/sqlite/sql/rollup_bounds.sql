-- The first and last day of the daily counts, then of the daily rejections (NULL when empty).
SELECT (SELECT min(day) FROM daily_counts), (SELECT max(day) FROM daily_counts),
       (SELECT min(day) FROM daily_rejections), (SELECT max(day) FROM daily_rejections)
